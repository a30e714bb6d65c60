// The file the ordered writer keeps: an SQLite file that leaves its path or is put back while
// measurements stream in, its WAL under readers, and the purge of old rows in slices; every
// result read back by the independent readers.
#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

#include "storage/databasewriter.h"
#include "storage/purgeslicer.h"
#include "storage/sqlbasemodule.h"
#include "storagetest.h"

namespace
{

const QString kA = QStringLiteral("00137A00000000A1");
const QString kWriterWarning = QStringLiteral("Database writer:");

} // namespace

class TestDatabaseWriterFile : public StorageTest
{
    Q_OBJECT

private slots:
    // The SQLite file deleted, replaced by another file, or moved aside while measurements
    // stream in: the user is told at once, in the status bar and in one box naming the file;
    // nothing is written anywhere while it is away, and nothing is counted as stored that the
    // file at the path does not hold while it may come back. A file moved back gets
    // everything, each once; at close, what went into the file as it left counts as stored.
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
        addSensors({ kA });
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
        const auto storedSoFar = [&committed] {
            int stored = 0;
            for (const QList<QVariant>& batch : qAsConst(committed))
                stored += batch.value(0).toInt();
            return stored;
        };
        const int stored = storedSoFar();
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
        QVERIFY2(f.boxes.boxes[3].startsWith(QStringLiteral("Не удалось записать в базу данных %1 измерений: файл "
                                                            "базы данных data/measurement.db3 %2")
                                                 .arg(sent - storedSoFar())
                                                 .arg(said)),
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
        addSensors({ kA });
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
        f.module->closeFlushMs = 2000;
        f.module->slotStopModule();
        int stored = 0;
        for (const QList<QVariant>& batch : qAsConst(committed))
            stored += batch.value(0).toInt();
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

    // With no reader left the WAL file is truncated to nothing; a reader in a transaction
    // keeps it until it ends.
    void walIsTruncatedWhenNoReaderIsActive_data() { only(0); }
    void walIsTruncatedWhenNoReaderIsActive()
    {
        f.open();
        addSensors({ kA });
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

    // Readers that follow one another without a pause, each starting before the last one
    // ends, while measurements keep coming: the WAL is still reset now and then instead of
    // growing for as long as they read.
    void walIsResetUnderReadersThatNeverPause_data() { only(0); }
    void walIsResetUnderReadersThatNeverPause()
    {
        f.open();
        addSensors({ kA });
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
        addSensors({ kA });
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

QTEST_GUILESS_MAIN(TestDatabaseWriterFile)
#include "tst_databasewriterfile.moc"
