#include "storage/databaseinfo.h"

#include <QSqlQuery>
#include <QVariant>

namespace DatabaseInfo
{

QString measureCount()
{
    QSqlQuery count;
    if (count.exec(QStringLiteral("SELECT count(id) FROM measure")) && count.next())
        return count.value(0).toString();
    return QString();
}

} // namespace DatabaseInfo
