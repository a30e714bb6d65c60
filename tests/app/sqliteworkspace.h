#pragma once

// A working folder of its own with "data/", the configuration and registry, and the database
// module opened on a fresh "data/measurement.db3"; the previous folder comes back afterwards.
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#include "app/appstate.h"
#include "storage/databasewriter.h"
#include "storage/sqlbasemodule.h"

class SqliteWorkspace
{
public:
    // `configure` sets the state up before the module opens the database.
    explicit SqliteWorkspace(const std::function<void(AppState&)>& configure = {})
        : previous(QDir::currentPath())
    {
        QDir::setCurrent(dir.path());
        QDir().mkdir(QStringLiteral("data"));
        state = std::make_unique<AppState>();
        state->DaysSave = 365; // as in a new configuration; the writer purges at start
        if (configure)
            configure(*state);
        sql = std::make_unique<SQLBaseModule>();
        state->followDatabase(*sql);
        sql->init(0, QString(), QString(), QString(), QString(), 0);
        settled = settleWriter();
    }
    ~SqliteWorkspace()
    {
        sql->slotStopModule();
        sql.reset();
        state.reset();
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
        QDir::setCurrent(previous);
    }
    SqliteWorkspace(const SqliteWorkspace&) = delete;
    SqliteWorkspace& operator=(const SqliteWorkspace&) = delete;

    bool isOpen() const { return dir.isValid() && sql->db.isOpen() && settled; }
    // Waits until the writer has stored everything queued so far.
    static bool writerIdle()
    {
        return QTest::qWaitFor(
            [] { return !gAppState->databaseWriter || gAppState->databaseWriter->queueLength() == 0; }, 10000);
    }

    // The rows of a statement, each one's values joined by `separator`, read once the writer
    // is idle; "writer busy" or "error" instead when it cannot be read.
    static QStringList rows(const QString& statement, QChar separator = QLatin1Char('|'))
    {
        if (!writerIdle())
            return { QStringLiteral("writer busy") };
        QSqlQuery q;
        if (!q.exec(statement))
            return { QStringLiteral("error") };
        QStringList out;
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << q.value(i).toString();
            out << values.join(separator);
        }
        return out;
    }

    // Tests also write through the main connection: they begin once the writer has opened its
    // own and finished its start-up writes (sequence, purge), so that neither waits on the other.
    bool settleWriter()
    {
        DatabaseWriter* writer = sql->writer;
        if (!writer)
            return true;
        auto done = std::make_shared<bool>(false);
        writer->enqueueJob(
            [](QSqlDatabase&, int, QString*) { return true; }, [done](bool, const QString&) { *done = true; });
        return QTest::qWaitFor([&] { return *done && !writer->purging(); }, 10000);
    }

    QTemporaryDir dir;
    bool settled = false;
    QString previous;
    std::unique_ptr<AppState> state;
    std::unique_ptr<SQLBaseModule> sql;
};
