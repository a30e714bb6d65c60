// The ordered writer against a database that someone else holds locked, a server that goes
// away and comes back, a close with measurements still queued, and registry changes queued
// between measurements; every result read back by the independent readers.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QtTest>

#include <cstdio>

#include "app/modemintake.h"
#include "links/modemmodule.h"
#include "storage/databasewriter.h"
#include "storage/purgeslicer.h"
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

    void addSensors()
    {
        f.sql(QStringLiteral("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES "
                             "('%1', 'a', 0, 60, '2024.01.02'), ('%2', 'b', 0, 60, '2024.01.02'), "
                             "('%3', 'c', 0, 60, '2024.01.02')")
                  .arg(kA, kB, kC));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
    }
    static void only(int type)
    {
        QTest::addColumn<int>("type");
        QTest::newRow(type ? "mysql" : "sqlite") << type;
    }
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
        addSensors();
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
    // could not write is said in a box, never dropped in silence. Beyond the queue's bound a
    // measurement is refused and counted.
    void closeWritesTheQueue_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("lockSeconds");
        QTest::addColumn<int>("flushMs");
        QTest::addColumn<int>("stored");
        for (int type : { 0, 1 }) {
            const char* name = type ? "mysql" : "sqlite";
            QTest::addRow("%s: lock gone within the flush", name) << type << 1.5 << 20000 << 40;
            // Long enough for one lock wait to end in the database's own reason.
            QTest::addRow("%s: lock outlasts the flush", name) << type << 5.0 << (type ? 4000 : 1500) << 0;
        }
    }
    void closeWritesTheQueue()
    {
        QFETCH(double, lockSeconds);
        QFETCH(int, flushMs);
        QFETCH(int, stored);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не удалось записать");
        f.open();
        addSensors();
        LockHolder lock;
        QVERIFY(lock.start(f, lockSeconds));
        f.module->writer->setQueueBound(40);
        for (int i = 0; i < 50; ++i)
            f.module->writer->enqueue({ kA, reading(i), QDateTime::currentSecsSinceEpoch() });
        QCOMPARE(f.module->writer->refusedCount(), 10);
        f.module->closeFlushMs = flushMs;
        f.module->slotStopModule();
        QVERIFY(lock.process.waitForFinished(20000));

        QCOMPARE(count("measure"), stored);
        if (stored) {
            QCOMPARE(f.boxes.boxes, QStringList());
            return;
        }
        // The box names the database's own reason.
        QCOMPARE(f.boxes.boxes.size(), 2);
        QCOMPARE(f.boxes.boxes[0], QStringLiteral("Внимание!"));
        QVERIFY2(f.boxes.boxes[1].startsWith(QStringLiteral("Не удалось записать в базу данных 40 измерений: "))
                && f.boxes.boxes[1].contains(QLatin1String("lock"), Qt::CaseInsensitive),
            qPrintable(f.boxes.boxes[1]));
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
        addSensors();
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

    // The SQLite file deleted, replaced by another file, or moved aside while measurements
    // stream in: the user is told at once, in the status bar and in one box naming the file;
    // nothing is written anywhere while it is away, and nothing is counted as stored that the
    // file at the path does not hold. A file moved back gets everything, each once.
    void databaseFileLeavesItsPath_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("said");
        QTest::newRow("deleted") << 0 << "delete" << QStringLiteral("удалён");
        QTest::newRow("replaced by another file") << 0 << "replace" << QStringLiteral("заменён другим файлом");
        QTest::newRow("moved aside and back") << 0 << "aside" << QStringLiteral("удалён");
    }
    void databaseFileLeavesItsPath()
    {
        QFETCH(QString, action);
        QFETCH(QString, said);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не удалось записать");
        f.open();
        addSensors();
        DatabaseWriter* writer = f.module->writer;
        QSignalSpy committed(writer, &DatabaseWriter::batchCommitted);
        QStringList statuses;
        connect(f.module.get(), &SQLBaseModule::signalSetStatusText, this, [&](QString text) { statuses << text; });
        const QByteArray path = QFile::encodeName(f.work->filePath(QStringLiteral("data/measurement.db3")));
        const QByteArray aside = QFile::encodeName(f.work->filePath(QStringLiteral("aside.db3")));
        int sent = 0;
        const auto send = [&](int n) {
            for (int i = 0; i < n; ++i) {
                writer->enqueue({ kA, reading(sent), 1000 + sent });
                ++sent;
                QTest::qWait(5);
            }
        };
        const auto hash = [](const QByteArray& file) {
            QFile in(QFile::decodeName(file));
            return in.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(in.readAll(), QCryptographicHash::Sha256)
                                                : QByteArray();
        };
        send(50);
        QByteArray replacement;
        if (action == "delete") {
            QVERIFY(std::remove(path.constData()) == 0);
        } else if (action == "aside") {
            QVERIFY(std::rename(path.constData(), aside.constData()) == 0);
        } else {
            QProcess python;
            python.start(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral("-c"),
                    QStringLiteral("import sqlite3, sys\nc = sqlite3.connect(sys.argv[1])\n"
                                   "c.execute('CREATE TABLE other (x)'); c.commit()\n"),
                    QFile::decodeName(aside) });
            QVERIFY(python.waitForFinished(20000) && python.exitCode() == 0);
            replacement = hash(aside);
            QVERIFY(std::rename(aside.constData(), path.constData()) == 0);
        }
        send(50); // while the file is away
        QTRY_COMPARE_WITH_TIMEOUT(f.boxes.boxes.size(), 2, 3000);
        QVERIFY2(f.boxes.boxes[1].startsWith(QStringLiteral("Файл базы данных data/measurement.db3 ") + said),
            qPrintable(f.boxes.boxes[1]));
        QVERIFY(statuses.contains(
            QStringLiteral("Файл базы данных data/measurement.db3 %1: запись в базу данных приостановлена").arg(said)));
        QTest::qWait(500);
        int stored = 0;
        for (const QList<QVariant>& batch : qAsConst(committed))
            stored += batch.value(0).toInt();
        QCOMPARE(writer->queueLength(), sent - stored);
        QVERIFY2(stored <= 50, qPrintable(QString::number(stored)));
        if (action == "delete")
            QVERIFY(!QFile::exists(QFile::decodeName(path)));
        if (action == "replace")
            QCOMPARE(hash(path), replacement);

        if (action == "aside") {
            QVERIFY(std::rename(aside.constData(), path.constData()) == 0);
            QTRY_COMPARE(writer->queueLength(), 0);
            QTRY_VERIFY(statuses.contains(QStringLiteral(
                "Файл базы данных data/measurement.db3 снова на месте, запись в базу данных продолжается")));
            QCOMPARE(f.sql("SELECT COUNT(*), COUNT(DISTINCT temperature) FROM measure"),
                (QList<QStringList> { { "100", "100" } }));
            QCOMPARE(f.boxes.boxes.size(), 2);
            return;
        }
        f.module->closeFlushMs = 2000;
        f.module->slotStopModule();
        QCOMPARE(f.boxes.boxes.size(), 4);
        QVERIFY2(f.boxes.boxes[3].startsWith(
                     QStringLiteral("Не удалось записать в базу данных %1 измерений").arg(sent - stored)),
            qPrintable(f.boxes.boxes[3]));
        if (action == "replace")
            QCOMPARE(hash(path), replacement);
    }

    // The database file moved to another file system and back while measurements stream in,
    // or copied aside, deleted and the copy put back: the file at the path is written again
    // and ends holding every measurement once, those committed after the copy was taken too.
    // A copy without this program's row of the sequence stays as it is; the close names what
    // was not written.
    void databaseFilePutBack_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("way");
        QTest::newRow("moved across file systems and back") << 0 << "move";
        QTest::newRow("copied aside, deleted, copy put back") << 0 << "copy";
        QTest::newRow("copy older than what is kept") << 0 << "old";
        QTest::newRow("copy without our row") << 0 << "foreign";
    }
    void databaseFilePutBack()
    {
        QFETCH(QString, way);
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не удалось записать");
        f.open();
        addSensors();
        DatabaseWriter* writer = f.module->writer;
        QSignalSpy committed(writer, &DatabaseWriter::batchCommitted);
        if (way == "old")
            writer->setCommittedKept(20);
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/ostrivel-XXXXXX"));
        QVERIFY(elsewhere.isValid());
        QVERIFY(QStorageInfo(elsewhere.path()).device() != QStorageInfo(f.work->path()).device());
        const QString path = f.work->filePath(QStringLiteral("data/measurement.db3"));
        const QString aside = elsewhere.filePath(QStringLiteral("measurement.db3"));
        const auto shell = [](const QString& program, const QStringList& arguments) {
            QProcess process;
            process.start(program, arguments);
            return process.waitForFinished(20000) && process.exitCode() == 0;
        };
        int sent = 0;
        const auto send = [&](int n) {
            for (int i = 0; i < n; ++i, ++sent) {
                writer->enqueue({ kA, reading(sent), 1000 + sent });
                QTest::qWait(5);
            }
        };
        send(300); // past the first checkpoint: the file holds our row
        QVERIFY(shell(QStringLiteral("/bin/") + (way == "move" ? "mv" : "cp"), { path, aside }));
        send(60);
        if (way != "move")
            QVERIFY(QFile::remove(path));
        if (way == "foreign")
            QVERIFY(shell(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral("-c"),
                    QStringLiteral("import sqlite3, sys\nc = sqlite3.connect(sys.argv[1])\n"
                                   "c.execute('DELETE FROM write_sequence'); c.commit(); c.close()\n"),
                    aside }));
        send(30);
        QFile copy(aside);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        const QByteArray putBack = copy.readAll();
        QVERIFY(shell(QStringLiteral("/bin/mv"), { aside, path }));
        send(30);
        if (way == "foreign") {
            QTest::qWait(1000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(writer->queueLength(), 0, 10000);
        }
        int stored = 0;
        for (const QList<QVariant>& batch : qAsConst(committed))
            stored += batch.value(0).toInt();
        f.module->closeFlushMs = 2000;
        f.module->slotStopModule();
        if (way == "foreign") {
            QVERIFY2(f.boxes.boxes.last().startsWith(
                         QStringLiteral("Не удалось записать в базу данных %1 измерений").arg(sent - stored)),
                qPrintable(f.boxes.boxes.last()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll() == putBack);
            return;
        }
        // Each reading once, in the file or named at close as not written.
        const QStringList rows
            = f.sql("SELECT COUNT(*), COUNT(DISTINCT temperature), MAX(timemeasure) FROM measure").value(0);
        const int inFile = rows.value(0).toInt();
        QCOMPARE(rows, (QStringList { QString::number(inFile), QString::number(inFile), QString::number(999 + sent) }));
        const QString unwritten = QStringLiteral("Не удалось записать в базу данных %1 измерений").arg(sent - inFile);
        QCOMPARE(f.boxes.boxes.last().startsWith(unwritten), way == "old");
        QCOMPARE(inFile == sent, way != "old");
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
        addSensors();
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
        QSignalSpy status(&road.modem, &ModemModule::signalSetStatusText);
        for (int i = 0; i < 100; ++i) {
            if (i == 25)
                road.peer.sendCast(QStringLiteral("UCAST"), kA + '1', payloads::measurement(-1.0f, 40.0f, 3.0f));
            QVERIFY(road.report(QStringLiteral("00137A000000000%1").arg(i % 5), float(i)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.sql("SELECT COUNT(DISTINCT temperature), MIN(temperature), (SELECT COUNT(*) "
                                        "FROM sensors) FROM measure"),
            (QList<QStringList> { { "100", "0", "5" } }), 20000);
        QCOMPARE(status.value(0).value(0).toString(),
            "Отброшено сообщений с неверным адресом датчика: 1 (последнее: UCAST от \"" + kA + "1\")");
    }

    // With no reader left the WAL file is truncated to nothing; a reader in a transaction
    // keeps it until it ends.
    void walIsTruncatedWhenNoReaderIsActive_data() { only(0); }
    void walIsTruncatedWhenNoReaderIsActive()
    {
        f.open();
        addSensors();
        f.module->writer->setCheckpointInterval(50);
        const QString wal = f.work->filePath(QStringLiteral("data/measurement.db3-wal"));
        QTRY_COMPARE(QFileInfo(wal).size(), 0);
        QProcess reader;
        reader.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import sqlite3, sys\ncon = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                               "con.execute('BEGIN'); con.execute('SELECT COUNT(*) FROM measure').fetchall()\n"
                               "print('reading', flush=True); sys.stdin.read()\n"),
                f.work->filePath(QStringLiteral("data/measurement.db3")) });
        QVERIFY(QTest::qWaitFor([&] { return reader.readAllStandardOutput().contains("reading"); }, 20000));
        // Measurements keep coming while the checkpoints wait for the reader, holding writes
        // meanwhile: the writer outwaits them and never reports the database as refusing.
        QStringList faults;
        for (int i = 0; i < 2000; ++i) {
            f.module->writer->enqueue({ kA, reading(i), 1000 + i });
            if (i % 50 == 0) {
                QTest::qWait(40);
                if (!f.module->writer->faultReason().isEmpty())
                    faults << f.module->writer->faultReason();
            }
        }
        QTRY_COMPARE(f.module->writer->queueLength(), 0);
        QCOMPARE(faults, QStringList());
        QVERIFY(QFileInfo(wal).size() > 0);
        reader.closeWriteChannel();
        QVERIFY(reader.waitForFinished(20000));
        f.module->writer->enqueue({ kA, reading(1), 5000 });
        QTRY_COMPARE(QFileInfo(wal).size(), 0);
    }

    // Measurements that come one by one, a few milliseconds apart, share their commits: the
    // pages every commit rewrites go to the WAL once for several of them.
    void measurementsArrivingOneByOneShareCommits_data() { dialects(); }
    void measurementsArrivingOneByOneShareCommits()
    {
        f.open();
        addSensors();
        QSignalSpy commits(f.module->writer, &DatabaseWriter::batchCommitted);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i) {
            f.module->writer->enqueue({ kA, reading(i), 1000 + i });
            QTest::qWait(3);
        }
        // Each commit takes in what came during at least 50 ms, however slow the machine.
        const qint64 most = clock.elapsed() / 45 + 3;
        QTRY_COMPARE(count(QStringLiteral("measure")), 20);
        QVERIFY2(commits.size() <= most, qPrintable(QStringLiteral("%1 commits").arg(commits.size())));
    }

    // Readers that follow one another without a pause, each starting before the last one
    // ends, while measurements keep coming: the WAL is still reset now and then instead of
    // growing for as long as they read.
    void walIsResetUnderReadersThatNeverPause_data() { only(0); }
    void walIsResetUnderReadersThatNeverPause()
    {
        f.open();
        addSensors();
        f.module->writer->setCheckpointInterval(100);
        const QString wal = f.work->filePath(QStringLiteral("data/measurement.db3-wal"));
        QProcess readers;
        readers.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import sqlite3, sys, time\n"
                               "cons = [sqlite3.connect(sys.argv[1], isolation_level=None) for i in range(2)]\n"
                               "cons[0].execute('BEGIN'); cons[0].execute('SELECT COUNT(*) FROM measure').fetchall()\n"
                               "print('reading', flush=True)\n"
                               "end = time.time() + 30; i = 0\n"
                               "while time.time() < end:\n"
                               "    nxt = cons[(i + 1) % 2]\n"
                               "    nxt.execute('BEGIN'); nxt.execute('SELECT COUNT(*) FROM measure').fetchall()\n"
                               "    cons[i % 2].execute('COMMIT'); i += 1; time.sleep(0.01)\n"),
                f.work->filePath(QStringLiteral("data/measurement.db3")) });
        QVERIFY(QTest::qWaitFor([&] { return readers.readAllStandardOutput().contains("reading"); }, 20000));
        qint64 largest = 0;
        bool reset = false;
        QElapsedTimer clock;
        clock.start();
        int n = 0;
        while (!reset && clock.elapsed() < 8000) {
            for (int i = 0; i < 5; ++i, ++n)
                f.module->writer->enqueue({ kA, reading(n), 1000 + n });
            QTest::qWait(10);
            const qint64 size = QFileInfo(wal).size();
            reset = largest > 0 && size < largest;
            largest = std::max(largest, size);
        }
        readers.kill();
        readers.waitForFinished(5000);
        QVERIFY2(reset, qPrintable(QStringLiteral("the WAL grew to %1 bytes without a reset").arg(largest)));
    }

    // The purge goes hour by hour and group by group, a sensor with more rows in an hour than a
    // slice takes cut in time within it; a second holding more rows than a slice still goes
    // whole, empty hours are skipped, rows of sensor ids no longer registered go too, and
    // nothing at or after the cutoff is touched. Rows are sensor@second.
    void purgeSlicesCoverTheRange_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("rowsPerSlice");
        QTest::addColumn<int>("cutoff");
        const QString spread = "1@10 1@10 1@10 1@11 1@12 1@13 1@13 1@14 1@15 1@20 1@99 1@100 1@100 1@101";
        const QString crowded = "1@10 1@10 1@10 1@10 1@10 1@10 1@10 1@10 1@10 1@10 1@100";
        const QString hours = "2@-3590 1@-5 3@10 1@3599 2@3600 3@3600 9@3600 1@3601 2@7300 9@7300 1@7301 3@40000 "
                              "2@43199 1@43200 2@43205 1@43210 9@43210 2@43211 3@50000";
        for (int type : { 0, 1 }) {
            const char* name = type ? "mysql" : "sqlite";
            QTest::addRow("%s: spread, slices of 3", name) << type << spread << 3 << 100;
            QTest::addRow("%s: crowded second", name) << type << crowded << 2 << 100;
            QTest::addRow("%s: hours and sensors, slices of 2", name) << type << hours << 2 << 43210;
            QTest::addRow("%s: hours and sensors, slices of 5", name) << type << hours << 5 << 43210;
        }
    }
    void purgeSlicesCoverTheRange()
    {
        QFETCH(QString, rows);
        QFETCH(int, rowsPerSlice);
        QFETCH(int, cutoff);
        f.open();
        addSensors();
        QStringList values, kept;
        for (const QString& row : rows.split(' ')) {
            values << QStringLiteral("(%1, %2, 1)").arg(row.section('@', 0, 0), row.section('@', 1, 1));
            if (row.section('@', 1, 1).toInt() >= cutoff)
                kept << row;
        }
        // Sensor 9 is not registered: on MySQL the foreign key, which older databases lack, is
        // set aside to store it.
        f.sql(QLatin1String(f.type ? "SET FOREIGN_KEY_CHECKS=0;\n" : "")
            + "INSERT INTO measure (sensor_id, timemeasure, temperature) VALUES " + values.join(','));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        PurgeSlicer purge(f.module->db, f.type);
        purge.start(cutoff);
        QString error;
        for (int step = 0; step < 10000 && purge.active(); ++step) {
            purge.setRowsPerSlice(rowsPerSlice); // no adapting to the time taken here
            QVERIFY2(purge.runSlice(&error), qPrintable(error));
        }
        QVERIFY(!purge.active());
        QStringList left;
        for (const QStringList& row :
            f.sql("SELECT sensor_id, timemeasure FROM measure ORDER BY timemeasure, sensor_id"))
            left << row.join('@');
        QCOMPARE(left, kept);
    }
};

QTEST_GUILESS_MAIN(TestDatabaseWriter)
#include "tst_databasewriter.moc"
