#include "storage/registrywriter.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Empty text is stored as '', never as NULL.
QString text(const QString& s)
{
    return s.isNull() ? QString("") : s;
}

void run(QSqlQuery& q)
{
    if (!q.exec())
        qWarning("Registry write failed: %s", qPrintable(q.lastError().text()));
}

}  // namespace

namespace RegistryWriter {

void insertLocation(int id, const QString& name, const QString& eui64, const QString& ip)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO locations VALUES(?,?,?,?)"));
    q.addBindValue(id);
    q.addBindValue(text(name));
    q.addBindValue(text(eui64));
    q.addBindValue(text(ip));
    run(q);
}

void insertSensor(const QString& eui64, const QString& name, int location, int sleepInterval, const QDate& datecheck)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES (?,?,?,?,?)"));
    q.addBindValue(text(eui64));
    q.addBindValue(text(name));
    q.addBindValue(location);
    q.addBindValue(sleepInterval);
    q.addBindValue(datecheck.toString(QStringLiteral("yyyy.MM.dd")));
    run(q);
}

void updateSensorLocation(const QString& eui64, int location)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("UPDATE sensors SET location=? WHERE EUI64=?"));
    q.addBindValue(location);
    q.addBindValue(text(eui64));
    run(q);
}

}  // namespace RegistryWriter
