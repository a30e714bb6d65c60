// Database faults that are neither a lock nor a lost connection: a full disk, an account that
// may not create or write the aggregate tables, a COMMIT whose reply is lost on the way back,
// and a connection killed under the writer. Nothing queued may be dropped or written twice,
// and the database's own reason reaches the user. Results are read back by the independent
// readers.
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <sys/resource.h>

#include "storage/databasefault.h"
#include "storage/databasewriter.h"
#include "storage/failuretext.h"
#include "storage/registryedits.h"
#include "storage/registrywriter.h"
#include "storage/sqlquerybuilder.h"
#include "fulldisk.h"
#include "stallingproxy.h"
#include "storagetest.h"

namespace
{

const QString kA = QStringLiteral("00137A00000000A1");
const QString kNew = QStringLiteral("00137A00000000F5");
const QString kWriterWarning = QStringLiteral("Database writer:");

// Stamps of today, which the purge at start leaves alone.
qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

// Files this process writes may not grow beyond `bytes` (as on a full disk) until it is
// destroyed; works the same for root and for an ordinary user.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    bool ok = false;

private:
    rlimit saved {};
};

// Counts the messages that carry a text, then hands them on.
class MessageCounter
{
public:
    explicit MessageCounter(const char* text)
    {
        mark = QLatin1String(text);
        count = 0;
        previous
            = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                  if (message.contains(mark))
                      ++count;
                  previous(type, context, message);
              });
    }
    ~MessageCounter() { qInstallMessageHandler(previous); }
    static inline QString mark;
    static inline std::atomic<int> count { 0 };
    static inline QtMessageHandler previous = nullptr;
};

} // namespace

class TestDatabaseFaults : public StorageTest
{
    Q_OBJECT

    // Measurements stored, distinct values, and the hourly and daily aggregates' counts.
    QList<QStringList> storedAndCounted()
    {
        return f.sql("SELECT (SELECT COUNT(*) FROM measure), (SELECT COUNT(DISTINCT temperature) FROM measure), "
                     "(SELECT COALESCE(SUM(n), 0) FROM measure_hourly), (SELECT COALESCE(SUM(n), 0) FROM "
                     "measure_daily)");
    }
    // Outcomes of registry jobs; a member, as a job failed at close reports after its case.
    QList<bool> outcome;
    void openAs(const QString& user, const QString& password)
    {
        f.make();
        f.module->init(1, QStringLiteral("127.0.0.1"), user, password, f.databaseName, f.server.port());
        QVERIFY(f.module->writer);
    }

private slots:
    // Texts the two databases give for their faults, and what the writer makes of them.
    void classify_data()
    {
        QTest::addColumn<int>("type"); // unused: the cases need no database
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("transient");
        QTest::addColumn<bool>("ownData");
        QTest::addColumn<QString>("advice"); // what the user is told before the database's text
        const QString full = QStringLiteral("На диске не осталось места. Освободите место на диске, где находится "
                                            "папка \"data\" (для MySQL — на диске сервера базы данных).");
        const QString readOnly = QStringLiteral("База данных открыта только для чтения. Разрешите запись в файл "
                                                "\"data/measurement.db3\" и в папку \"data\" (для MySQL — снимите с "
                                                "сервера режим только для чтения).");
        const QString missing = QStringLiteral("В базе данных нет нужной таблицы или столбца. Перезапустите "
                                               "программу: недостающие таблицы будут созданы; если это не поможет, "
                                               "проверьте, та ли база данных указана в настройках.");
        const QString denied = QStringLiteral("У пользователя базы данных нет прав на запись. Выдайте пользователю "
                                              "из настроек базы данных права на чтение, запись и создание таблиц.");
        QTest::newRow("sqlite locked") << 0 << "database is locked Unable to fetch row" << true << false << QString();
        QTest::newRow("sqlite full") << 0 << "database or disk is full Unable to fetch row" << false << false << full;
        QTest::newRow("sqlite read-only")
            << 0 << "attempt to write a readonly database" << false << false << readOnly;
        QTest::newRow("sqlite no table") << 0 << "no such table: measure_hourly" << false << false << missing;
        QTest::newRow("sqlite unique") << 0 << "UNIQUE constraint failed: locations.id" << false << true << QString();
        QTest::newRow("sqlite i/o") << 0 << "disk I/O error Unable to fetch row" << false << false << QString();
        QTest::newRow("mysql lock wait")
            << 1 << "[ma-3.1.15][10.11.6-MariaDB]Lock wait timeout exceeded; try restarting transaction" << true
            << false << QString();
        QTest::newRow("mysql gone") << 1 << "[ma-3.1.15]Server has gone away" << true << false << QString();
        QTest::newRow("mysql lost") << 1 << "[ma-3.1.15]Lost connection to server during query" << true << false
                                    << QString();
        QTest::newRow("mysql out of sync")
            << 1 << "[ma-3.1.15]Commands out of sync; you can't run this command now" << true << false << QString();
        QTest::newRow("mysql denied")
            << 1
            << "[ma-3.1.15][10.11.6-MariaDB]CREATE command denied to user 'u'@'localhost' for table "
               "`d`.`measure_hourly`"
            << false << false << denied;
        QTest::newRow("mysql duplicate") << 1 << "[ma-3.1.15]Duplicate entry '3' for key 'PRIMARY'" << false << true
                                         << QString();
        QTest::newRow("mysql incorrect value") // a registration whose check date the server cannot read
            << 1
            << "[ma-3.1.15][10.11.19-MariaDB-0+deb12u1]Incorrect date value: '' for column `d`.`sensors`.`datecheck` "
               "at row 1 QODBC3: Unable to execute statement"
            << false << true << QString();
        QTest::newRow("mysql full") << 1 << "[ma-3.1.15]The table 'measure' is full" << false << false << full;
        QTest::newRow("mysql disk full")
            << 1 << "[ma-3.1.15][10.11.6-MariaDB]Disk full (/tmp/#sql_1.MAI); waiting for someone to free some space"
            << false << false << full;
        QTest::newRow("mysql read-only")
            << 1 << "[ma-3.1.15][10.11.6-MariaDB]The MariaDB server is running with the --read-only option"
            << false << false << readOnly;
        QTest::newRow("mysql no table") << 1 << "[ma-3.1.15][10.11.6-MariaDB]Table 'd.last' doesn't exist" << false
                                        << false << missing;
    }
    void classify()
    {
        QFETCH(QString, error);
        QFETCH(bool, transient);
        QFETCH(bool, ownData);
        QFETCH(QString, advice);
        QCOMPARE(DatabaseFault::classify(error) == DatabaseFault::Transient, transient);
        QCOMPARE(DatabaseFault::refusesData(error), ownData);
        QCOMPARE(FailureText::database(error),
            advice.isEmpty() ? error : advice + QStringLiteral("\nСообщение базы данных: ") + error);
    }

    // A registration refused for its values: told, later readings stored, its sensor's counted.
    void refusedRegistrationEndsAlone_data() { dialects(); }
    void refusedRegistrationEndsAlone()
    {
        f.expectedWarnings << kWriterWarning << QStringLiteral("Не сохранено 10 измерений");
        f.open();
        addSensors({ kA });
        QSignalSpy status(f.module.get(), &SQLBaseModule::signalSetStatusText);
        const QString bad = kNew + QLatin1Char('1');
        f.module->writer->enqueueJob(RegistryWriter::insertSensorJob(bad, "new", 0, 60, QDate(2024, 1, 2)));
        for (int i = 0; i < 1010; ++i)
            f.module->writer->enqueue({ i % 101 == 100 ? bad : kA, reading(i), now() + i });
        QTRY_COMPARE_WITH_TIMEOUT(f.module->writer->queueLength(), 0, 20000);
        QCOMPARE(f.sql("SELECT COUNT(DISTINCT temperature), (SELECT COUNT(*) FROM sensors) FROM measure"),
            (QList<QStringList> { { "1000", "1" } }));
        QTRY_VERIFY(status.value(0).value(0).toString().contains(f.type ? "Data too long" : "CHECK constraint failed"));
        f.closeModule();
        QCOMPARE(f.boxes.boxes.value(1).left(25), QStringLiteral("Не сохранено 10 измерений"));
    }

    // A full disk while a new sensor arrives: its registration and its measurements wait in
    // order, the reason is shown in the status and once in a box, and once space is free
    // again every measurement is stored once, on the new sensor.
    void fullDiskKeepsRegistrationAndMeasurements_data() { only(0); }
    void fullDiskKeepsRegistrationAndMeasurements()
    {
        f.expectedWarnings << kWriterWarning;
        f.open();
        addSensors({ kA });
        DatabaseWriter* writer = f.module->writer;
        QSignalSpy faults(writer, &DatabaseWriter::faultChanged);
        // The WAL truncated to nothing, so that any commit has to grow it.
        writer->setCheckpointInterval(50);
        const QString wal = f.work->filePath(QStringLiteral("data/measurement.db3-wal"));
        QTRY_COMPARE(QFileInfo(wal).size(), 0);
        outcome.clear();
        {
            FileSizeLimit full(1000);
            QVERIFY(full.ok);
            for (int i = 0; i < 10; ++i)
                writer->enqueue({ kA, reading(i), now() + i });
            writer->enqueueJob(RegistryWriter::insertSensorJob(kNew, QStringLiteral("new"), 0, 60, QDate(2024, 1, 2)),
                [&](bool ok, const QString&) { outcome << ok; });
            for (int i = 10; i < 30; ++i)
                writer->enqueue({ i % 2 ? kA : kNew, reading(i), now() + i });
            QTRY_VERIFY_WITH_TIMEOUT(!writer->faultReason().isEmpty(), 10000);
            QTest::qWait(3500); // a slow retry or two, still refused
            // SQLite says "database or disk is full" or "disk I/O error" by where the write stopped.
            QVERIFY2(writer->faultLasting(), qPrintable(writer->faultReason()));
            QCOMPARE(writer->queueLength(), 31);
            QCOMPARE(outcome, QList<bool>());
            QCOMPARE(f.boxes.boxes.size(), 2);
            QVERIFY2(f.boxes.boxes[1].contains(writer->faultReason()), qPrintable(f.boxes.boxes[1]));
        }
        QTRY_COMPARE_WITH_TIMEOUT(writer->queueLength(), 0, 15000);
        QTRY_COMPARE(outcome, QList<bool> { true });
        QTRY_VERIFY(!faults.isEmpty() && faults.last().at(0).toString().isEmpty());
        QCOMPARE(f.sql("SELECT s.EUI64, COUNT(*), COUNT(DISTINCT m.temperature) FROM measure m JOIN sensors s ON "
                       "s.id=m.sensor_id GROUP BY s.EUI64 ORDER BY s.EUI64"),
            (QList<QStringList> { { kA, "20", "20" }, { kNew, "10", "10" } }));
        QCOMPARE(f.sql("SELECT SUM(n) FROM measure_hourly"), QList<QStringList> { { "30" } });
        QCOMPARE(f.boxes.boxes.size(), 2); // once
    }

    // A disk that is full for real: the box names it and says what to do, the database's own
    // words after it; while the box is up, the writer's waiting count and reason go on being
    // told; once there is room again everything is stored.
    void fullDiskExplainedWhileTheBoxIsUp_data() { only(0); }
    void fullDiskExplainedWhileTheBoxIsUp()
    {
        f.expectedWarnings << kWriterWarning;
        FullDisk disk(f.work->filePath(QStringLiteral("data")), 4 << 20);
        QVERIFY2(disk.error().isEmpty(), qPrintable(disk.error()));
        f.open();
        addSensors({ kA });
        DatabaseWriter* writer = f.module->writer;
        writer->setCheckpointInterval(50);
        QTRY_COMPARE(QFileInfo(f.work->filePath(QStringLiteral("data/measurement.db3-wal"))).size(), 0);
        QSignalSpy lengths(writer, &DatabaseWriter::queueLengthChanged);
        QSignalSpy faults(writer, &DatabaseWriter::faultChanged);
        bool toldWhileUp = false;
        f.boxes.whileOpen = [&] {
            toldWhileUp = QTest::qWaitFor(
                [&] { return !faults.isEmpty() && !lengths.isEmpty() && lengths.last().at(0).toInt() == 20; }, 5000);
        };
        QVERIFY(disk.fill());
        for (int i = 0; i < 20; ++i)
            writer->enqueue({ kA, reading(i), now() + i });
        QTRY_COMPARE_WITH_TIMEOUT(f.boxes.boxes.size(), 2, 15000);
        f.boxes.whileOpen = nullptr;
        QVERIFY(toldWhileUp);
        const QString reason = writer->faultReason();
        QVERIFY2(reason.startsWith(QLatin1String("database or disk is full")), qPrintable(reason));
        QCOMPARE(f.boxes.boxes[1],
            QStringLiteral("База данных не принимает записи.\nНа диске не осталось места. Освободите место на диске, "
                           "где находится папка \"data\" (для MySQL — на диске сервера базы данных).\n"
                           "Сообщение базы данных: %1\nИзмерения и изменения датчиков ждут в памяти и будут "
                           "записаны, как только причина будет устранена.")
                .arg(reason));
        disk.free();
        QTRY_COMPARE_WITH_TIMEOUT(writer->queueLength(), 0, 15000);
        QCOMPARE(f.sql("SELECT COUNT(DISTINCT temperature) FROM measure"), QList<QStringList> { { "20" } });
        f.closeModule();
    }

    // An account without CREATE on a database from before the aggregates, and one that may
    // not write them: measurements are stored without them, the summaries read "measure",
    // and the user is told once.
    void aggregatesOutOfReach_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("oldDatabase");
        QTest::newRow("mysql: old database, no CREATE") << 1 << true;
        QTest::newRow("mysql: aggregates read-only") << 1 << false;
    }
    void aggregatesOutOfReach()
    {
        QFETCH(bool, oldDatabase);
        f.expectedWarnings << kWriterWarning << QStringLiteral("measurement aggregates not kept:")
                           << QStringLiteral("aggregate tables:");
        f.open();
        addSensors({ kA });
        f.closeModule();
        const QString user = QStringLiteral("lim") + f.databaseName;
        const QString db = f.databaseName;
        QString grants = QStringLiteral("CREATE USER '%1'@'127.0.0.1' IDENTIFIED BY 'pw';\n").arg(user);
        if (oldDatabase) {
            f.sql("DROP TABLE measure_hourly, measure_daily, measure_aggregates_state, write_sequence");
            grants += QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON %1.* TO '%2'@'127.0.0.1'").arg(db, user);
        } else {
            grants += QStringLiteral("GRANT SELECT ON %1.* TO '%2'@'127.0.0.1'").arg(db, user);
            for (const char* table : { "measure", "last", "sensors", "locations", "removed", "write_sequence" })
                grants += QStringLiteral(";\nGRANT INSERT, UPDATE, DELETE ON %1.%2 TO '%3'@'127.0.0.1'")
                              .arg(db, QLatin1String(table), user);
        }
        f.sql(grants);
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));

        openAs(user, QStringLiteral("pw"));
        for (int i = 0; i < 10; ++i)
            f.module->writer->enqueue({ kA, reading(i), now() + i });
        QTRY_COMPARE_WITH_TIMEOUT(f.module->writer->queueLength(), 0, 10000);
        f.sql("SELECT COUNT(*), COUNT(DISTINCT temperature) FROM measure");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        QVERIFY2(f.lastRows.size() == 1, "rows");
        QCOMPARE(f.lastRows[0], (QStringList { "10", "10" }));
        QTRY_COMPARE(f.boxes.boxes.size(), 2);
        QVERIFY(!f.state->aggregatesReady);
        QVERIFY2(f.boxes.boxes[1].contains(QLatin1String("measure_")), qPrintable(f.boxes.boxes[1]));
        for (int i = 10; i < 20; ++i)
            f.module->writer->enqueue({ kA, reading(i), now() + i });
        QCOMPARE(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { "20" } });
        QTest::qWait(600);
        QCOMPARE(f.boxes.boxes.size(), 2);
    }

    // The reply to COMMIT lost on the way back: the writer finds the transaction done and
    // writes no batch and no registry change twice; the aggregates equal a recount.
    void lostCommitReplyWritesNothingTwice_data() { only(1); }
    void lostCommitReplyWritesNothingTwice()
    {
        f.expectedWarnings << kWriterWarning;
        StallingProxy proxy(quint16(f.server.port()));
        QVERIFY(proxy.listen());
        f.make();
        f.module->init(
            1, QStringLiteral("127.0.0.1"), f.server.user(), f.server.password(), f.databaseName, proxy.port());
        DatabaseWriter* writer = f.module->writer;
        QVERIFY(writer);
        addSensors({ kA });
        outcome.clear();
        int sent = 0;
        for (int round = 0; round < 6; ++round) {
            proxy.cuts = 1;
            if (round == 2)
                writer->enqueueJob(
                    RegistryWriter::insertSensorJob(kNew, QStringLiteral("new"), 0, 60, QDate(2024, 1, 2)),
                    [&](bool ok, const QString&) { outcome << ok; });
            for (int i = 0; i < 25; ++i, ++sent)
                writer->enqueue({ round == 2 && i % 2 ? kNew : kA, reading(sent), now() + sent });
            QTRY_COMPARE_WITH_TIMEOUT(writer->queueLength(), 0, 20000);
        }
        QVERIFY2(proxy.cut >= 5, qPrintable(QString::number(proxy.cut)));
        QTRY_COMPARE(outcome, QList<bool> { true });
        QCOMPARE(f.sql("SELECT COUNT(*) FROM sensors WHERE EUI64='" + kNew + "'"), QList<QStringList> { { "1" } });
        const QString total = QString::number(sent);
        QCOMPARE(storedAndCounted(), (QList<QStringList> { { total, total, total, total } }));
    }

    // A sensor removed while "removed" is missing, its COMMIT lost before the server got it:
    // the table is made outside the removal's transaction, so the sequence read back says the
    // removal did not happen, and it is made again.
    void removalLostBeforeTheServerIsMadeAgain_data() { only(1); }
    void removalLostBeforeTheServerIsMadeAgain()
    {
        f.expectedWarnings << kWriterWarning;
        StallingProxy proxy(quint16(f.server.port()));
        QVERIFY(proxy.listen());
        f.port = proxy.port();
        f.open();
        addSensors({ kA });
        f.module->writer->enqueue({ kA, reading(1), now() }); // the writer's connection is open
        QTRY_COMPARE(f.module->writer->queueLength(), 0);
        f.sql("DROP TABLE removed");
        proxy.swallow = true;
        proxy.cuts = 1;
        outcome.clear();
        f.module->writer->enqueueJob(RegistryEdits::removeSensor(kA), [&](bool ok, const QString&) { outcome << ok; });
        QTRY_COMPARE_WITH_TIMEOUT(outcome, QList<bool> { true }, 20000);
        QCOMPARE(int(proxy.cut), 1);
        QCOMPARE(f.sql("SELECT (SELECT COUNT(*) FROM sensors), (SELECT COUNT(*) FROM removed)"),
            (QList<QStringList> { { "0", "1" } }));
    }

    // Two programs writing to one database, COMMIT replies cut under both: each finds out for
    // its own transaction whether it took effect, whatever the other committed meanwhile.
    void twoProgramsLoseNoBatch_data() { only(1); }
    void twoProgramsLoseNoBatch()
    {
        f.expectedWarnings << kWriterWarning;
        f.open();
        addSensors({ kA });
        StallingProxy proxy(quint16(f.server.port()));
        QVERIFY(proxy.listen());
        QSqlDatabase settings = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("two-programs"));
        settings.setDatabaseName(SqlQueryBuilder::databaseName(
            1, QStringLiteral("127.0.0.1"), f.server.user(), f.server.password(), f.databaseName, proxy.port()));
        DatabaseWriter writers[2];
        for (DatabaseWriter& writer : writers)
            writer.start(settings, 1);
        settings = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("two-programs"));
        int sent = 0;
        for (int round = 0; round < 8; ++round) {
            proxy.cuts = 2;
            for (int i = 0; i < 20; ++i, ++sent) {
                writers[sent % 2].enqueue({ kA, reading(sent), now() + sent });
                // The second program commits more often: its numbers run ahead of the first's.
                if (i % 4 == 0)
                    writers[1].enqueueJob([](QSqlDatabase&, int, QString*) { return true; });
                QTest::qWait(3);
            }
            QTRY_VERIFY_WITH_TIMEOUT(writers[0].queueLength() + writers[1].queueLength() == 0, 20000);
        }
        QVERIFY2(proxy.cut >= 8, qPrintable(QString::number(proxy.cut)));
        for (DatabaseWriter& writer : writers)
            QCOMPARE(writer.flushAndStop(5000), 0);
        const QString total = QString::number(sent);
        QCOMPARE(storedAndCounted(), (QList<QStringList> { { total, total, total, total } }));
    }

    // A connection killed under the writer again and again: each batch stored once, no
    // statement left prepared on the dead session ("Commands out of sync"), and the
    // connection it opens afresh has its short lock wait again, so a lock held elsewhere
    // holds a statement for seconds, not for the server's default.
    void killedConnectionIsMadeAfresh_data() { only(1); }
    void killedConnectionIsMadeAfresh()
    {
        f.expectedWarnings << kWriterWarning;
        f.open();
        addSensors({ kA });
        DatabaseWriter* writer = f.module->writer;
        MessageCounter outOfSync("Commands out of sync");
        int sent = 0;
        const QString writerSession = QStringLiteral(
            "SELECT id FROM information_schema.PROCESSLIST WHERE user='ostrivel' ORDER BY id DESC LIMIT 1");
        for (int round = 0; round < 10; ++round) {
            const QString id = f.sql(writerSession).value(0).value(0);
            QVERIFY(!id.isEmpty());
            f.sql("KILL CONNECTION " + id);
            for (int i = 0; i < 5; ++i, ++sent)
                writer->enqueue({ kA, reading(sent), now() + sent });
            QTRY_COMPARE_WITH_TIMEOUT(writer->queueLength(), 0, 20000);
        }
        const QString total = QString::number(sent);
        QCOMPARE(storedAndCounted(), (QList<QStringList> { { total, total, total, total } }));
        QCOMPARE(int(outOfSync.count), 0);

        f.sql("KILL CONNECTION " + f.sql(writerSession).value(0).value(0));
        QProcess lock;
        f.server.startSession(lock, f.databaseName);
        lock.write("LOCK TABLES measure READ;\nSELECT 'locked';\nSELECT SLEEP(7);\nUNLOCK TABLES;\n");
        lock.closeWriteChannel();
        QVERIFY(QTest::qWaitFor([&] { return lock.readAllStandardOutput().contains("locked"); }, 20000));
        writer->enqueue({ kA, reading(sent), now() + sent });
        ++sent;
        int longest = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 6000) {
            const QList<QStringList> rows = f.server.query(f.databaseName,
                "SELECT COALESCE(MAX(time), 0) FROM information_schema.PROCESSLIST WHERE user='ostrivel' AND "
                "command='Query'");
            longest = qMax(longest, rows.value(0).value(0).toInt());
            QTest::qWait(250);
        }
        QVERIFY2(longest <= 3, qPrintable(QString::number(longest)));
        QVERIFY(lock.waitForFinished(20000));
        QTRY_COMPARE_WITH_TIMEOUT(writer->queueLength(), 0, 20000);
        QCOMPARE(f.sql("SELECT COUNT(*) FROM measure"), QList<QStringList> { { QString::number(sent) } });
    }
};

QTEST_GUILESS_MAIN(TestDatabaseFaults)
#include "tst_databasefaults.moc"
