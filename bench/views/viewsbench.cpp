#include "bench/views/viewsbench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <cstdio>
#include <ctime>

#include "bench/common/modemprobe.h"
#include "bench/percentile.h"
#include "bench/views/programrun.h"
#include "bench/views/ptyanchor.h"
#include "storage/sqlbasemodule.h"

namespace ViewsBench
{

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
}

QString datagenKey(int i)
{
    return QStringLiteral("00137A%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
}

QString newSensorKey(int i)
{
    return QStringLiteral("000D6F0001%1").arg(i, 6, 16, QLatin1Char('0')).toUpper();
}

bool startProgram(ProgramRun& run, ModemProbe& line, const QString& program, quint16 networkPort)
{
    if (!run.writeConfig(line.portName(), networkPort))
        return false;
    if (!run.start(program)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return false;
    }
    QElapsedTimer t;
    t.start();
    if (!line.waitForScript(900000)) {
        std::fprintf(stderr, "the program never initialised the modem:\n%s\n", qPrintable(run.output()));
        return false;
    }
    std::printf("program up and modem initialised in %.1f s\n", t.elapsed() / 1000.0);
    return true;
}

bool makeDatabase(ProgramRun& run, int sensors)
{
    bool ok = true;
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(run.path(QString()));
        SQLBaseModule sql;
        sql.init(0, QString(), QString(), QString(), QString(), 0);
        QSqlDatabase db = QSqlDatabase::database();
        db.transaction();
        QSqlQuery q(db);
        const int rooms = sensors > 0 ? (sensors + 49) / 50 : 0;
        for (int r = 0; r < rooms && ok; ++r) {
            q.prepare(QStringLiteral("INSERT OR REPLACE INTO locations (id, name, EUI64, ip) VALUES (?, ?, '', '')"));
            q.addBindValue(r);
            q.addBindValue(QStringLiteral("Помещение %1").arg(r + 1));
            ok = q.exec();
        }
        for (int i = 0; i < sensors && ok; ++i) {
            q.prepare(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) "
                                     "VALUES (?, ?, ?, ?, 60, '2026.01.01')"));
            q.addBindValue(i + 1);
            q.addBindValue(newSensorKey(i));
            q.addBindValue(QStringLiteral("Датчик %1").arg(i + 1));
            q.addBindValue(i / 50);
            ok = q.exec();
        }
        ok = db.commit() && ok;
        if (!ok)
            std::fprintf(stderr, "cannot fill the database: %s\n", qPrintable(q.lastError().text()));
        sql.slotStopModule();
        QDir::setCurrent(previous);
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return ok;
}

bool startEmptyProgram(
    ProgramRun& run, ModemProbe& line, const QString& program, quint16 port, int tab, int last, int known)
{
    if (!makeDatabase(run, known))
        return false;
    run.writeView(tab, last, QStringLiteral("actRefrDirect"));
    return line.open() && startProgram(run, line, program, port);
}

qint64 storedRows(const ProgramRun& run, const QString& table)
{
    const QString name = QStringLiteral("count");
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    const QString file = run.path(QStringLiteral("data/measurement.db3"));
    if (db.databaseName() != file) {
        db.close();
        db.setDatabaseName(file);
    }
    if (!db.isOpen() && !db.open())
        return -1;
    QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM ") + table, db);
    return q.next() ? q.value(0).toLongLong() : -1;
}

void reportReplies(
    const char* what, const QVector<double>& replies, const QVector<double>& anchor, int unanswered, double busy)
{
    const double p99 = percentile(replies, 0.99);
    const double anchor99 = percentile(anchor, 0.99);
    std::printf("%s: %d replies, %d unanswered\n", what, replies.size(), unanswered);
    std::printf("  reply   median %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(replies, 0.5), p99,
        percentile(replies, 1.0));
    std::printf("  anchor  median %.2f ms, p99 %.2f ms, max %.2f ms (bare pty ping-pong, %d pings)\n",
        percentile(anchor, 0.5), anchor99, percentile(anchor, 1.0), anchor.size());
    std::printf("  reply p99 / anchor p99 = %.2f\n", anchor99 > 0 ? p99 / anchor99 : 0.0);
    std::printf("  main thread busy %.1f %% of the time\n", busy * 100);
}

double Phase::ratio() const
{
    const double floor = percentile(anchor, 0.99);
    return floor > 0 ? percentile(replies, 0.99) / floor : 0.0;
}

bool runPhase(ProgramRun& run, ModemProbe& line, int rate, const std::function<void()>& tick,
    const std::function<bool()>& done, int timeoutMs, Phase* phase)
{
    line.takeLatencies();
    PtyAnchor anchor;
    if (!anchor.start(5)) {
        std::fprintf(stderr, "cannot open the anchor's pseudo-terminal\n");
        return false;
    }
    QElapsedTimer wall;
    wall.start();
    const qint64 cpu0 = run.mainThreadCpuMs();
    line.startTicking(std::max(1, 1000 / rate), tick);
    waitFor(done, timeoutMs);
    phase->busy = double(run.mainThreadCpuMs() - cpu0) / double(wall.elapsed());
    line.stopTicking();
    phase->seconds = wall.elapsed() / 1000.0;
    phase->anchor = anchor.stop();
    phase->replies = line.takeLatencies();
    phase->unanswered = line.unanswered();
    return true;
}

} // namespace ViewsBench
