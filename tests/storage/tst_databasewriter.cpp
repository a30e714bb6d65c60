// The ordered writer against a database that someone else holds locked, a server that goes
// away and comes back, a close with measurements still queued, and registry changes queued
// between measurements; every result read back by the independent readers.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include "app/sensorintake.h"
#include "links/modemmodule.h"
#include "storage/databasewriter.h"
#include "storage/purgeslicer.h"
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

SensorData reading(double t)
{
    SensorData d;
    d.hasTemperature = d.hasWetness = d.hasBattery = true;
    d.temperature = t;
    d.wetness = 50;
    d.battery = 3;
    return d;
}

// The modem road of the program in this process: the modem module on a pseudo-terminal and
// the intake, whose replies go back to the line and whose writes go to the module's writer.
class ModemIntake : public IntakeSink
{
public:
    ModemIntake(AppState& state, SQLBaseModule& sql)
        : sql(sql)
        , intake(state, *this, [] { return QDateTime::currentMSecsSinceEpoch(); })
    {
    }
    ~ModemIntake() override
    {
        QMetaObject::invokeMethod(&modem, "slotStopModule", Qt::QueuedConnection);
        modem.wait();
    }
    bool start(AppState& state, QString* error)
    {
        if (!peer.open(error))
            return false;
        state.PortName = peer.portName();
        // The casts reach the intake in this thread, as they reach the application object.
        QObject::connect(&modem, &ModemModule::signalCastReceived, &peer,
            [this](QString kind, QString eui, QByteArray payload) { intake.modemCast(kind, eui, payload); });
        QSignalSpy script(&peer, &ModemPeer::scriptDone);
        modem.moveToThread(&modem);
        modem.start();
        return script.wait(30000);
    }
    void sendModemReply(const QByteArray& frame) override
    {
        QMetaObject::invokeMethod(&modem, "slotSendData", Qt::QueuedConnection, Q_ARG(QByteArray, frame));
    }
    void storeMeasurement(const PendingMeasurement& m) override { sql.writer->enqueue(m); }
    void sensorRegistered() override { }
    void sensorMoved() override { }
    void announceSleepInterval(ZigBeeClient*, const QString&, int) override { }
    void registryChanged() override { }
    void raiseNotification(const NotificationsMessage&) override { }
    void showStatus(const QString&) override { }
    void resendSensorList(ZigBeeClient*) override { }

    SQLBaseModule& sql;
    SensorIntake intake;
    ModemPeer peer;
    ModemModule modem;
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
            QTest::addRow("%s: lock outlasts the flush", name) << type << 5.0 << 500 << 0;
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
        for (int i = 0; i < 2000; ++i)
            f.module->writer->enqueue({ kA, reading(i), 1000 + i });
        QTRY_COMPARE(f.module->writer->queueLength(), 0);
        QTest::qWait(300); // several checkpoints with the reader still in its transaction
        QVERIFY(QFileInfo(wal).size() > 0);
        reader.closeWriteChannel();
        QVERIFY(reader.waitForFinished(20000));
        f.module->writer->enqueue({ kA, reading(1), 5000 });
        QTRY_COMPARE(QFileInfo(wal).size(), 0);
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
