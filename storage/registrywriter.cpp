#include "storage/registrywriter.h"

#include <QSqlQuery>
#include <QVariant>

#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace
{

// Empty text is stored as '', never as NULL.
QString text(const QString& s)
{
    return s.isNull() ? QString("") : s;
}

// One statement with its values bound in order.
DatabaseWriter::Job statementJob(const QString& statement, const QVariantList& values)
{
    return [statement, values](
               QSqlDatabase& db, int, QString* error) { return SqlStatement::run(db, statement, values, error); };
}

void enqueue(DatabaseWriter* writer, DatabaseWriter::Job job)
{
    if (!writer) {
        qWarning("Registry write failed: the database is not open");
        return;
    }
    writer->enqueueJob(std::move(job));
}

} // namespace

namespace RegistryWriter
{

DatabaseWriter::Job insertLocationJob(int id, const QString& name, const QString& eui64, const QString& ip)
{
    return statementJob(
        QStringLiteral("INSERT INTO locations VALUES(?,?,?,?)"), { id, text(name), text(eui64), text(ip) });
}

DatabaseWriter::Job insertSensorJob(
    const QString& eui64, const QString& name, int location, int sleepInterval, const QDate& datecheck)
{
    const DatabaseWriter::Job insert = statementJob(
        QStringLiteral("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES (?,?,?,?,?)"),
        { text(eui64), text(name), location, sleepInterval, datecheck.toString(QStringLiteral("yyyy.MM.dd")) });
    // A sensor registers anew as soon as the dialog takes it out of memory; when its removal
    // then fails, the row is still there, in whatever case it was stored, and stays the
    // sensor's (memory gets it back too).
    return [eui64, insert](QSqlDatabase& db, int type, QString* error) {
        QSqlQuery q(db);
        if (!SqlStatement::exec(q,
                QStringLiteral("SELECT COUNT(*) FROM sensors WHERE ") + SqlQueryBuilder::eui64Matches(type),
                { text(eui64) }, error)
            || !q.next())
            return SqlStatement::failed(q, error);
        return q.value(0).toInt() > 0 || insert(db, type, error);
    };
}

DatabaseWriter::Job updateSensorLocationJob(const QString& eui64, int location)
{
    return statementJob(QStringLiteral("UPDATE sensors SET location=? WHERE EUI64=?"), { location, text(eui64) });
}

void insertLocation(DatabaseWriter* writer, int id, const QString& name, const QString& eui64, const QString& ip)
{
    enqueue(writer, insertLocationJob(id, name, eui64, ip));
}

void insertSensor(DatabaseWriter* writer, const QString& eui64, const QString& name, int location, int sleepInterval,
    const QDate& datecheck)
{
    enqueue(writer, insertSensorJob(eui64, name, location, sleepInterval, datecheck));
}

void updateSensorLocation(DatabaseWriter* writer, const QString& eui64, int location)
{
    enqueue(writer, updateSensorLocationJob(eui64, location));
}

} // namespace RegistryWriter
