#include "storage/measureaggregates.h"

namespace MeasureAggregates {

QStringList schemaStatements(int)
{
    return {};
}

bool add(QSqlDatabase&, int, const QVector<AggregateInput>&, QString*)
{
    return true;
}

bool afterPurge(QSqlDatabase&, int, qint64, qint64, QString*)
{
    return true;
}

bool removeSensor(QSqlDatabase&, int, qint64, QString*)
{
    return true;
}

bool needsBuild(QSqlDatabase&, int)
{
    return false;
}

bool build(QSqlDatabase&, int, QString*)
{
    return true;
}

}  // namespace MeasureAggregates
