// The problem-report archive of the data folder, read back by Python's zipfile.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include "dialogs/reportarchive.h"
#include "fulldisk.h"
#include "storage/databasewriter.h"
#include "storagefixture.h"

// Path under the data folder and content; a path ending in "/" is a folder.
using Tree = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Tree)

namespace
{

const QByteArray kConfig = "[DB]\r\n; Password=kept\r\nPassword=s3cr=t\r\n\r\n[EmailNotifications]\r\n"
                           "serverLogin=me\r\nserverPassword = mail pass\r\n";
const QByteArray kConfigBlanked = "[DB]\r\n; Password=kept\r\nPassword=\r\n\r\n[EmailNotifications]\r\n"
                                  "serverLogin=me\r\nserverPassword =\r\n";

// Data that does not compress, of a size past one piece of the archive's reads.
QByteArray noise()
{
    QVector<quint32> words(3 * 1024 * 1024 / 4 + 2);
    QRandomGenerator(1).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), words.size() * 4 - 3);
}

bool makeTree(const QString& root, const Tree& tree)
{
    bool ok = QDir().mkpath(root);
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const bool folder = it.key().endsWith('/');
        QFile f(root + '/' + it.key());
        ok = ok && QDir().mkpath(QFileInfo(f.fileName()).path())
            && (folder || (f.open(QIODevice::WriteOnly) && f.write(it.value()) == it.value().size()));
    }
    return ok;
}

// Every entry as Python's zipfile reads it, after its own check of every CRC and of
// duplicate names; folders have an empty content. An archive it cannot read gives one
// entry that says why.
Tree readBack(const QString& zipPath)
{
    QProcess python;
    python.start("/usr/bin/python3",
        { "-c",
            "import base64, json, sys, zipfile\n"
            "z = zipfile.ZipFile(sys.argv[1])\n"
            "names = z.namelist()\n"
            "assert z.testzip() is None and len(set(names)) == len(names)\n"
            "print(json.dumps({n: base64.b64encode(z.read(n)).decode() for n in names}))\n",
            zipPath });
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return { { "unreadable: " + python.readAllStandardError(), QByteArray() } };
    Tree tree;
    const QJsonObject entries = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        tree.insert(it.key(), QByteArray::fromBase64(it.value().toString().toLatin1()));
    return tree;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
}

// The database of an archive as Python's zipfile and sqlite3 read it, unpacked with whatever
// else the archive holds (a WAL beside it is read with it): the names of the archive, then the
// outcome of integrity_check, then one line per measurement (id and temperature).
QStringList readDatabase(const QString& zipPath, const QString& scratch)
{
    QProcess python;
    python.start("/usr/bin/python3",
        { "-c",
            "import os, shutil, sqlite3, sys, zipfile\n"
            "z = zipfile.ZipFile(sys.argv[1])\n"
            "assert z.testzip() is None\n"
            "print(' '.join(sorted(z.namelist())))\n"
            "shutil.rmtree(sys.argv[2], ignore_errors=True)\n"
            "z.extractall(sys.argv[2])\n"
            "db = sqlite3.connect(os.path.join(sys.argv[2], 'measurement.db3'))\n"
            "try:\n"
            "    print(db.execute('PRAGMA integrity_check').fetchone()[0])\n"
            "    for row in db.execute('SELECT id, temperature FROM measure WHERE temperature >= 0 ORDER BY id'):\n"
            "        print('%d %g' % row)\n"
            "except sqlite3.DatabaseError as e:\n"
            "    print(e)\n",
            zipPath, scratch });
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return { "unreadable: " + python.readAllStandardError() };
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestReportArchive : public QObject
{
    Q_OBJECT
private slots:
    void archive_data()
    {
        QTest::addColumn<Tree>("folder");
        QTest::addColumn<Tree>("expected");
        QTest::addColumn<bool>("cancel");
        const QByteArray db = noise();
        const QByteArray view = "[MainWindow]\ngeometry=@ByteArray(\\x1\\xd9)\n";
        QTest::newRow("top level") << Tree { { "config.ini", kConfig }, { "view.conf", view },
            { "measurement.db3",
                db } } << Tree { { "config.ini", kConfigBlanked }, { "view.conf", view }, { "measurement.db3", db } }
                                   << false;
        QTest::newRow("sub-folders") << Tree { { "logs/a.txt", "a" }, { "журнал/запись 1.txt", "Т" }, { "empty/", "" },
            { ".hidden", "h" }, { "logs/.seen/x", "x" } }
                                     << Tree { { "logs/", "" }, { "logs/a.txt", "a" }, { "журнал/", "" },
                                            { "журнал/запись 1.txt", "Т" }, { "empty/", "" } }
                                     << false;
        // Only the leading folder goes; a folder called "data" inside keeps its name, and only
        // the top-level configuration is the program's.
        QTest::newRow("nested data") << Tree { { "data/x.txt", "x" }, { "sub/data/config.ini", kConfig } }
                                     << Tree { { "data/", "" }, { "data/x.txt", "x" }, { "sub/", "" },
                                            { "sub/data/", "" }, { "sub/data/config.ini", kConfig } }
                                     << false;
        QTest::newRow("empty folder") << Tree() << Tree() << false;
        QTest::newRow("cancelled") << Tree { { "measurement.db3", db } } << Tree() << true;
    }

    void archive()
    {
        QFETCH(Tree, folder);
        QFETCH(Tree, expected);
        QFETCH(bool, cancel);
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.filePath("data"), folder));
        QVERIFY(makeTree(dir.path(), { { "sent_data.zip", "old" } }));
        const std::atomic_bool flag { cancel };
        const ReportArchive::Outcome out
            = ReportArchive::write(dir.filePath("data"), dir.filePath("sent_data.zip"), flag);
        QVERIFY2(out.ok != cancel && out.cancelled == cancel && out.error.isEmpty(), qPrintable(out.error));
        // A cancelled build leaves the archive of the previous send as it was.
        if (cancel)
            QCOMPARE(readFile(dir.filePath("sent_data.zip")), QByteArray("old"));
        else
            QCOMPARE(readBack(dir.filePath("sent_data.zip")), expected);
        QCOMPARE(out.entries, expected.size());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "sent_data.zip" });
    }

    // The database goes in as what one commit left, while measurements arrive at about 200 a
    // second and the WAL is checkpointed and truncated under the build: every copy passes
    // integrity_check and holds a prefix of the measurements the live table ends with.
    void databaseCopiedWhileWriting()
    {
        StorageFixture f;
        QString error;
        QVERIFY2(f.begin(0, &error), qPrintable(error));
        SQLBaseModule* module = f.open();
        // The WAL truncated fifty times as often as the program does; on a loaded machine the
        // checkpoint's sync may keep the writer waiting past its busy time, and it retries.
        // That nothing is lost is checked against the count of what was sent.
        module->writer->setCheckpointInterval(200);
        f.expectedWarnings << "Database writer: the database refuses writes; what is queued is kept and retried: "
                              "database is locked";
        f.sql("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) "
              "VALUES ('000D6F0000C0A001', 'a', 0, 60, '2024.01.02')");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        // A database of some megabytes, so that reading it takes a while.
        f.sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
              "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
              "SELECT 1, strftime('%s', 'now') - 200000 + i, -1, 50, 3 FROM n");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        // Two measurements every 10 ms, a few seconds' worth before the first send.
        int sent = 0;
        QTimer feed;
        QObject::connect(&feed, &QTimer::timeout, [&] {
            for (int i = 0; i < 2; ++i)
                module->writer->enqueue({ "000D6F0000C0A001", reading(sent++), QDateTime::currentSecsSinceEpoch() });
        });
        feed.start(10);
        QTest::qWait(2000);

        QList<QStringList> copies;
        const QString target = f.work->filePath("sent_data.zip");
        for (int send = 0; send < 20; ++send) {
            std::atomic_bool cancel { false };
            ReportArchive::Outcome out;
            QThread* build = QThread::create(
                [&] { out = ReportArchive::write(f.work->filePath("data"), target, cancel, { "measurement.db3" }); });
            build->start();
            while (!build->isFinished())
                QTest::qWait(5);
            delete build;
            QVERIFY2(out.ok, qPrintable(out.error));
            const QStringList read = readDatabase(target, f.work->filePath("unpacked"));
            QVERIFY2(read.size() >= 2, qPrintable(read.join('|')));
            QCOMPARE(read.at(1), QStringLiteral("ok"));
            // The copy holds what the WAL held.
            QCOMPARE(read.at(0), QStringLiteral("measurement.db3"));
            copies << read.mid(2);
            QTest::qWait(50);
        }
        feed.stop();
        const QList<QStringList> live = f.sql("SELECT id, temperature FROM measure WHERE temperature >= 0 ORDER BY id");
        QCOMPARE(live.size(), sent);
        QStringList liveRows;
        for (const QStringList& row : live)
            liveRows << row.join(' ');
        for (const QStringList& copy : copies) {
            QVERIFY(!copy.isEmpty());
            QCOMPARE(copy, liveRows.mid(0, copy.size()));
        }
        // The copies were taken at moments apart from each other.
        QVERIFY(copies.last().size() > copies.first().size());
        const QStringList warnings = f.end();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    // A file that is no database cannot be copied as one: the build fails and names it,
    // leaving the previous archive.
    void databaseThatCannotBeCopied()
    {
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.filePath("data"), { { "measurement.db3", noise() }, { "config.ini", kConfig } }));
        QVERIFY(makeTree(dir.path(), { { "sent_data.zip", "old" } }));
        const std::atomic_bool cancel { false };
        const ReportArchive::Outcome out
            = ReportArchive::write(dir.filePath("data"), dir.filePath("sent_data.zip"), cancel, { "measurement.db3" });
        QVERIFY(!out.ok);
        QVERIFY2(out.error.startsWith(QStringLiteral("Не удалось скопировать базу данных ") + dir.filePath("data/measurement.db3") + ": "),
            qPrintable(out.error));
        QCOMPARE(readFile(dir.filePath("sent_data.zip")), QByteArray("old"));
    }

    // An archive into a folder on a full disk fails naming the full disk, and leaves the
    // previous archive and nothing else.
    void fullDiskNamed()
    {
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.filePath("data"), { { "measurement.db3", noise() }, { "config.ini", kConfig } }));
        FullDisk disk(dir.filePath("out"), 64 * 1024);
        QVERIFY(makeTree(dir.filePath("out"), { { "sent_data.zip", "old" } }));
        QVERIFY2(disk.fill(), qPrintable(disk.error()));
        const std::atomic_bool cancel { false };
        const ReportArchive::Outcome out
            = ReportArchive::write(dir.filePath("data"), dir.filePath("out/sent_data.zip"), cancel);
        QVERIFY(!out.ok);
        QVERIFY2(out.error.startsWith(QStringLiteral("Не удалось записать архив ") + dir.filePath("out/sent_data.zip")
                     + QStringLiteral(":\nНа диске не осталось места. Освободите место на диске или выберите другую "
                                      "папку.\nПодробности: Не удалось завершить запись архива: ")),
            qPrintable(out.error));
        disk.free();
        QCOMPARE(readFile(dir.filePath("out/sent_data.zip")), QByteArray("old"));
        QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files), QStringList { "sent_data.zip" });
    }
};

QTEST_GUILESS_MAIN(TestReportArchive)
#include "tst_reportarchive.moc"
