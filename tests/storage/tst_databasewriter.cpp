// The ordered writer against a database that someone else holds locked, a server that goes
// away and comes back, a close with measurements still queued, and registry changes queued
// between measurements, sharing their commits; every result read back by the independent
// readers.
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlError>
#include <QSemaphore>
#include <QSqlQuery>
#include <QtTest>

#include <numeric>

#include "app/modemintake.h"
#include "links/modemmodule.h"
#include "storage/databasewriter.h"
#include "storage/registrywriter.h"
#include "stallingproxy.h"
#include "storagetest.h"
#include "tests/app/payloads.h"
#include "tools/modemsim/modempeer.h"

namespace
{

const QString kA = QStringLiteral("00137A00000000A1");
const QString kB = QStringLiteral("00137A00000000B2");
const QString kC = QStringLiteral("00137A00000000C3");
const QString kWriterWarning = QStringLiteral("Database writer:");

// Holds the write lock of the database from another process: an SQLite transaction that has
// written (python's sqlite3), or LOCK TABLES ... READ in a mariadb session. Held until
// release(), or for `seconds` on its own.
class LockHolder
{
public:
    bool start(StorageFixture& f, double seconds = -1)
    {
        QByteArray seen;
        if (f.type == 1) {
            f.server.startSession(process, f.databaseName);
            process.write("LOCK TABLES measure READ;\nSELECT 'locked';\n");
            if (seconds >= 0) {
                process.write(QStringLiteral("SELECT SLEEP(%1);\nUNLOCK TABLES;\n").arg(seconds).toUtf8());
                process.closeWriteChannel();
            }
        } else {
            // Until its input ends, or for the given seconds.
            process.start(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral("-c"),
                    QStringLiteral(
                        "import select, sqlite3, sys\ncon = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                        "con.execute('BEGIN IMMEDIATE'); print('locked', flush=True)\n"
                        "t = float(sys.argv[2]); select.select([sys.stdin], [], [], t if t >= 0 else None)\n"),
                    f.work->filePath(QStringLiteral("data/measurement.db3")), QString::number(seconds) });
        }
        return process.waitForStarted()
            && QTest::qWaitFor([&] { return (seen += process.readAllStandardOutput()).contains("locked"); }, 20000);
    }
    bool release()
    {
        process.write("UNLOCK TABLES;\n");
        process.closeWriteChannel();
        return process.waitForFinished(20000) && process.exitCode() == 0;
    }
    QProcess process;
};

} // namespace

class TestDatabaseWriter : public StorageTest
{
    Q_OBJECT

    int count(const QString& table)
    {
        return f.sql(QStringLiteral("SELECT COUNT(*) FROM ") + table).value(0).value(0).toInt();
    }

private slots:
    // Sensors keep being answered while the database is locked for ten seconds; what they
    // sent is stored once the lock goes, in order, stamped with the second it arrived.
    void repliesGoOnThroughALock_data() { dialects(); }
    void repliesGoOnThroughALock()
    {
        f.expectedWarnings << kWriterWarning;
        f.open();
        ModemIntake road(*f.state, *f.module);
        QString error;
        QVERIFY2(road.start(*f.state, &error), qPrintable(error));
        QElapsedTimer clock;
        clock.start();
        QVector<qint64> sentMs, sentSecond, repliedMs;
        QObject::connect(&road.peer, &ModemPeer::unicastReceived, [&] { repliedMs << clock.elapsed(); });

        LockHolder lock;
        QVERIFY(lock.start(f));
        const int messages = 20;
        for (int i = 0; i < messages; ++i) {
            sentMs << clock.elapsed();
            sentSecond << QDateTime::currentSecsSinceEpoch();
            road.peer.sendCast(QStringLiteral("UCAST"), i % 2 ? kA : kB, payloads::measurement(i, 40.0f, 3.0f));
            QTRY_COMPARE_WITH_TIMEOUT(repliedMs.size(), i + 1, 5000);
            QTest::qWait(500 - int(clock.elapsed() - sentMs.last()));
        }
        QVERIFY(f.module->writer->queueLength() >= messages);
        QVERIFY(lock.release());

        for (int i = 0; i < messages; ++i)
            QVERIFY2(repliedMs[i] - sentMs[i] < 1000, qPrintable(QString::number(repliedMs[i] - sentMs[i])));
        const QList<QStringList> rows = f.sql("SELECT m.temperature, m.timemeasure, s.EUI64 FROM measure m "
                                              "JOIN sensors s ON s.id=m.sensor_id ORDER BY m.id");
        QCOMPARE(rows.size(), messages);
        for (int i = 0; i < messages; ++i) {
            QCOMPARE(rows[i][0], QString::number(i));
            QCOMPARE(rows[i][2], i % 2 ? kA : kB);
            const qint64 stored = rows[i][1].toLongLong();
            QVERIFY2(stored >= sentSecond[i] && stored <= sentSecond[i] + 1, qPrintable(rows[i].join(' ')));
        }
    }

    // Nothing is lost while the server is down: the writer keeps the queue and reconnects.
    void serverStoppedAndStartedAgain_data() { only(1); }
    void serverStoppedAndStartedAgain()
    {
        f.expectedWarnings << kWriterWarning;
        f.open();
        addSensors({ kA, kB, kC });
        int sent = 0;
        auto send = [&](int n) {
            for (int i = 0; i < n; ++i)
                f.module->writer->enqueue({ kA, reading(sent++), QDateTime::currentSecsSinceEpoch() });
        };
        send(10);
        f.server.stop();
        send(10);
        QTest::qWait(300); // attempts fail while the server is down
        send(10);
        QString error;
        QVERIFY2(f.server.restart(&error), qPrintable(error));
        send(10);
        QCOMPARE(f.sql("SELECT COUNT(*), COUNT(DISTINCT temperature), MIN(temperature), MAX(temperature) FROM measure"),
            (QList<QStringList> { { "40", "40", "0", "39" } }));
    }

    // At close the queue is written if the database lets it within the time given; what it
    // could not write is said in a box, never dropped in silence, and never also stored; the
    // box says why: the database's own reason, or a database that stored to the end but had
    // more than the time allowed. Beyond the queue's bound a measurement is refused and counted.
    void closeWritesTheQueue_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("lockSeconds"); // 0: no lock
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("flushMs");
        QTest::addColumn<QString>("reason"); // in the box, none when empty
        for (int type : { 0, 1 }) {
            const char* name = type ? "mysql" : "sqlite";
            QTest::addRow("%s: lock gone within the flush", name) << type << 1.5 << 50 << 20000 << QString();
            // Long enough for one lock wait to end in the database's own reason.
            QTest::addRow("%s: lock outlasts the flush", name) << type << 5.0 << 50 << (type ? 4000 : 1500) << "lock";
        }
        QTest::newRow("mysql: more queued than the flush can store")
            << 1 << 0.0 << 300000 << 4000 << "база данных была доступна, но записывала медленнее";
    }
    void closeWritesTheQueue()
    {
        QFETCH(double, lockSeconds);
        QFETCH(int, sent);
        QFETCH(int, flushMs);
        QFETCH(QString, reason);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не удалось записать") << QStringLiteral("Не сохранено");
        f.open();
        addSensors({ kA, kB, kC });
        LockHolder lock;
        QVERIFY(!lockSeconds || lock.start(f, lockSeconds));
        // Held by the lock, the queue fills to its bound.
        const int bound = lockSeconds ? sent - 10 : sent;
        f.module->writer->setQueueBound(bound);
        for (int i = 0; i < sent; ++i)
            f.module->writer->enqueue({ i % 2 ? kA : kB, reading(i), QDateTime::currentSecsSinceEpoch() });
        QCOMPARE(f.module->writer->refusedCount(), sent - bound);
        f.module->closeFlushMs = flushMs;
        f.module->slotStopModule();
        QVERIFY(!lockSeconds || lock.process.waitForFinished(20000));
        // A thread given up on inside the driver is not left to the next case.
        QTRY_COMPARE_WITH_TIMEOUT(DatabaseWriter::abandonedThreads(), 0, 30000);

        const int stored = count("measure");
        // Those refused at the bound are named too.
        const QString refused
            = QStringLiteral("Не сохранено %1 измерений: очередь записи в базу данных была переполнена.").arg(sent - bound);
        if (reason.isEmpty()) {
            QCOMPARE(stored, bound);
            const QStringList boxes = sent > bound ? QStringList { QStringLiteral("Внимание!"), refused } : QStringList();
            QCOMPARE(f.boxes.boxes, boxes);
            return;
        }
        // Each measurement once: stored, or named in the box with the reason.
        QCOMPARE(f.boxes.boxes.size(), 2);
        QCOMPARE(f.boxes.boxes[0], QStringLiteral("Внимание!"));
        const QString box = f.boxes.boxes[1];
        QVERIFY2(box.startsWith(QStringLiteral("Не удалось записать в базу данных %1 измерений: ").arg(bound - stored))
                && box.contains(reason, Qt::CaseInsensitive) && box.endsWith(sent > bound ? refused : QString()),
            qPrintable(box));
    }

    // A close while a statement hangs in the driver (the server's replies held back, as by a
    // network gone quiet) ends within the flush time, once; when the network comes back after
    // the writer is destroyed, the thread left behind ends without touching what was freed and
    // without writing what the close box counted as not written. A registry change stuck so is
    // told it failed, once.
    void closeWhileAStatementHangs_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("flushMs");
        QTest::addColumn<bool>("jobInDriver");
        QTest::newRow("mysql, flush 1 s") << 1 << 1000 << false;
        QTest::newRow("mysql, flush 3 s") << 1 << 3000 << false;
        QTest::newRow("mysql, flush 1 s, registry change in the driver") << 1 << 1000 << true;
    }
    void closeWhileAStatementHangs()
    {
        QFETCH(int, flushMs);
        QFETCH(bool, jobInDriver);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не удалось записать");
        StallingProxy proxy(quint16(f.server.port()));
        QVERIFY(proxy.listen());
        f.port = proxy.port();
        f.open();
        addSensors({ kA, kB, kC });
        for (int i = 0; i < 10; ++i)
            f.module->writer->enqueue({ kA, reading(i), 1000 + i });
        QCOMPARE(count("measure"), 10);
        proxy.stall();
        QList<bool> told;
        if (jobInDriver)
            f.module->writer->enqueueJob(
                RegistryWriter::insertSensorJob(kA.left(15) + 'D', QStringLiteral("d"), 0, 60, QDate(2024, 1, 2)),
                [&told](bool ok, const QString&) { told << ok; });
        for (int i = 10; i < 25; ++i)
            f.module->writer->enqueue({ kA, reading(i), 1000 + i });
        QTest::qWait(300); // the writer is inside the driver now
        f.module->closeFlushMs = flushMs;
        QElapsedTimer clock;
        clock.start();
        f.module->slotStopModule();
        const qint64 closeMs = clock.elapsed();
        QVERIFY2(closeMs < flushMs + 700, qPrintable(QString::number(closeMs)));
        QCOMPARE(f.boxes.boxes.size(), 2);
        QVERIFY2(f.boxes.boxes[1].startsWith(QStringLiteral("Не удалось записать в базу данных 15 измерений")),
            qPrintable(f.boxes.boxes[1]));
        f.module.reset();
        QCOMPARE(DatabaseWriter::abandonedThreads(), 1);

        QCOMPARE(told, jobInDriver ? QList<bool> { false } : QList<bool>());

        proxy.resume();
        QTRY_COMPARE_WITH_TIMEOUT(DatabaseWriter::abandonedThreads(), 0, 30000);
        QTest::qWait(200); // the worker is deleted in this thread's event loop
        QCOMPARE(count("measure"), 10);
        QCOMPARE(count("sensors"), 3);
        QCOMPARE(told, jobInDriver ? QList<bool> { false } : QList<bool>());
    }

    // A measurement lands on the sensor that carries its address when it is written, and the
    // writer takes them in the order they were queued around a registry change.
    void registryChangesKeepTheirPlace_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("queuedAfter");
        QTest::addColumn<QString>("landsOn"); // name of the row it lands on, empty for none
        for (int type : { 0, 1 }) {
            const char* name = type ? "mysql" : "sqlite";
            QTest::addRow("%s: before addresses swap", name) << type << "swap" << false << "a";
            QTest::addRow("%s: after addresses swap", name) << type << "swap" << true << "b";
            QTest::addRow("%s: before removal", name) << type << "remove" << false << "a";
            QTest::addRow("%s: after removal", name) << type << "remove" << true << "";
        }
    }
    void registryChangesKeepTheirPlace()
    {
        QFETCH(QString, change);
        QFETCH(bool, queuedAfter);
        QFETCH(QString, landsOn);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не сохранено 1 измерений"); // the lost one
        f.open();
        addSensors({ kA, kB, kC });
        // The removal keeps the measure rows so that the old row's id stays visible.
        const QStringList statements = change == "swap"
            ? QStringList { "UPDATE sensors SET EUI64='FFFFFFFFFFFFFFFF' WHERE name='a'",
                  "UPDATE sensors SET EUI64='" + kA + "' WHERE name='b'",
                  "UPDATE sensors SET EUI64='" + kB + "' WHERE EUI64='FFFFFFFFFFFFFFFF'" }
            : QStringList { "UPDATE sensors SET EUI64='EEEEEEEEEEEEEEEE' WHERE name='a'" };
        DatabaseWriter::Job job = [statements](QSqlDatabase& db, int, QString* error) {
            QSqlQuery q(db);
            for (const QString& s : statements) {
                if (!q.exec(s)) {
                    *error = q.lastError().text();
                    return false;
                }
            }
            return true;
        };
        QList<bool> outcome;
        DatabaseWriter* writer = f.module->writer;
        // The first measurement fills the writer's address cache before the change.
        writer->enqueue({ kA, reading(1), 1000 });
        if (queuedAfter)
            writer->enqueueJob(job, [&](bool ok, const QString&) { outcome << ok; });
        writer->enqueue({ kA, reading(2), 2000 });
        if (!queuedAfter)
            writer->enqueueJob(job, [&](bool ok, const QString&) { outcome << ok; });
        QTRY_COMPARE(outcome, QList<bool> { true });

        const QList<QStringList> rows
            = f.sql("SELECT s.name FROM measure m JOIN sensors s ON s.id=m.sensor_id WHERE m.temperature=2");
        QCOMPARE(rows, landsOn.isEmpty() ? QList<QStringList>() : QList<QStringList> { { landsOn } });
    }

    // A sender of 17 characters among five sensors' readings: dropped, counted, never registered.
    void malformedAddressAmongReadings_data() { dialects(); }
    void malformedAddressAmongReadings()
    {
        f.open();
        ModemIntake road(*f.state, *f.module);
        QString error;
        QVERIFY2(road.start(*f.state, &error), qPrintable(error));
        // Told on the test's thread, as the window is: a spy would record on the modem's.
        QStringList status;
        QObject sink;
        connect(&road.modem, &ModemModule::signalSetStatusText, &sink, [&status](const QString& t) { status << t; });
        for (int i = 0; i < 100; ++i) {
            if (i == 25)
                road.peer.sendCast(QStringLiteral("UCAST"), kA + '1', payloads::measurement(-1.0f, 40.0f, 3.0f));
            QVERIFY(road.report(QStringLiteral("00137A000000000%1").arg(i % 5), float(i)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.sql("SELECT COUNT(DISTINCT temperature), MIN(temperature), (SELECT COUNT(*) "
                                        "FROM sensors) FROM measure"),
            (QList<QStringList> { { "100", "0", "5" } }), 20000);
        QTRY_COMPARE(
            status.value(0), "Отброшено сообщений с неверным адресом датчика: 1 (последнее: UCAST от \"" + kA + "1\")");
    }

    // Measurements that come one by one, a few milliseconds apart, share their commits: the
    // pages every commit rewrites go to the WAL once for several of them.
    void measurementsArrivingOneByOneShareCommits_data() { dialects(); }
    void measurementsArrivingOneByOneShareCommits()
    {
        f.open();
        addSensors({ kA, kB, kC });
        QSignalSpy commits(f.module->writer, &DatabaseWriter::batchCommitted);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i) {
            f.module->writer->enqueue({ kA, reading(i), 1000 + i });
            QTest::qWait(3);
        }
        // Each commit takes in what came during at least 100 ms, however slow the machine.
        const qint64 most = clock.elapsed() / 95 + 3;
        QTRY_COMPARE(count(QStringLiteral("measure")), 20);
        QVERIFY2(commits.size() <= most, qPrintable(QStringLiteral("%1 commits").arg(commits.size())));
    }
    // New sensors registered with their first readings as the intake queues them, and a known
    // sensor's reading, all queued while the writer is busy: they go in one transaction (the
    // sequence rises once, by all of them). A registration the database refuses for its own
    // values ends alone, told it failed; every other item is written, each job told once, and
    // the sequence rises by what was written.
    void registrationsShareTheirReadingsCommit_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("refused"); // the new sensor whose address is too long, -1 for none
        for (int type : { 0, 1 }) {
            const char* name = type ? "mysql" : "sqlite";
            QTest::addRow("%s: all accepted", name) << type << -1;
            QTest::addRow("%s: the second refused", name) << type << 1;
        }
    }
    void registrationsShareTheirReadingsCommit()
    {
        QFETCH(int, refused);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не сохранено 1 измерений");
        f.open();
        addSensors({ kA, kB, kC });
        // Every transaction of the writer raises its row of write_sequence once: logged here.
        f.sql(f.type ? "CREATE TABLE commit_log (seq BIGINT);\nCREATE TRIGGER log_commit AFTER UPDATE ON "
                       "write_sequence FOR EACH ROW INSERT INTO commit_log VALUES (NEW.seq)"
                     : "CREATE TABLE commit_log (seq INTEGER);\nCREATE TRIGGER log_commit AFTER UPDATE ON "
                       "write_sequence BEGIN INSERT INTO commit_log VALUES (new.seq); END");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        DatabaseWriter* writer = f.module->writer;
        QSemaphore running, go;
        struct Release {
            QSemaphore& go;
            ~Release() { go.release(); }
        } release { go };
        writer->enqueueJob([&running, &go](QSqlDatabase&, int, QString*) {
            running.release();
            go.acquire();
            return true;
        });
        QVERIFY(running.tryAcquire(1, 20000));
        QList<bool> told;
        QStringList stored { kA + "|1" };
        for (int i = 0; i < 3; ++i) {
            const QString address = QStringLiteral("00137A00000000E%1").arg(i) + (i == refused ? "1" : "");
            writer->enqueueJob(
                RegistryWriter::insertSensorJob(address, QStringLiteral("new"), 0, 60, QDate(2024, 1, 2)),
                [&told](bool ok, const QString&) { told << ok; });
            writer->enqueue({ address, reading(i), 1000 + i });
            if (i != refused)
                stored << address + "|1";
        }
        writer->enqueue({ kA, reading(9), 1009 });
        go.release();
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 3, 20000);
        QCOMPARE(told, (QList<bool> { refused != 0, refused != 1, refused != 2 }));
        QStringList rows;
        for (const QStringList& row : f.sql("SELECT s.EUI64, COUNT(*) FROM measure m JOIN sensors s ON "
                                            "s.id=m.sensor_id GROUP BY s.EUI64 ORDER BY s.EUI64"))
            rows << row.join('|');
        QCOMPARE(rows, stored);
        QCOMPARE(count("sensors"), 3 + stored.size() - 1);
        // The rise of each transaction after the one that held the writer.
        QList<int> rises;
        const QList<QStringList> log = f.sql("SELECT seq FROM commit_log ORDER BY seq");
        for (int i = 1; i < log.size(); ++i)
            rises << log[i][0].toInt() - log[i - 1][0].toInt();
        QCOMPARE(std::accumulate(rises.begin(), rises.end(), 0), refused < 0 ? 7 : 6);
        if (refused < 0)
            QCOMPARE(rises, QList<int> { 7 });
    }
};

QTEST_GUILESS_MAIN(TestDatabaseWriter)
#include "tst_databasewriter.moc"
