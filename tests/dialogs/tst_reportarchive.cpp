// The problem-report archive of the data folder, read back by Python's zipfile.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "dialogs/reportarchive.h"

// Path under the data folder and content; a path ending in "/" is a folder.
using Tree = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Tree)

namespace
{

const QByteArray kConfig = "[DB]\r\nHostname=db.local\r\nPassword=s3cr=t\r\n\r\n[EmailNotifications]\r\n"
                           "serverLogin=me\r\nserverPassword = mail pass\r\n";
const QByteArray kConfigBlanked = "[DB]\r\nHostname=db.local\r\nPassword=\r\n\r\n[EmailNotifications]\r\n"
                                  "serverLogin=me\r\nserverPassword =\r\n";

QByteArray pseudoRandom(int size, uint seed)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = char(seed >> 16);
    }
    return data;
}

bool makeTree(const QString& root, const Tree& tree)
{
    if (!QDir().mkpath(root))
        return false;
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString path = root + '/' + it.key();
        if (it.key().endsWith('/')) {
            if (!QDir().mkpath(path))
                return false;
            continue;
        }
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(it.value()) != it.value().size())
            return false;
    }
    return true;
}

// Every entry as Python's zipfile sees it, after its own check of every CRC; folders have
// an empty content. Fails the test when the archive cannot be read.
Tree readBack(const QString& zipPath, QStringList* names)
{
    QProcess python;
    python.start("/usr/bin/python3",
        { "-c",
            "import base64, json, sys, zipfile\n"
            "with zipfile.ZipFile(sys.argv[1]) as z:\n"
            "    bad = z.testzip()\n"
            "    print(json.dumps({'bad': bad, 'entries': [[i.filename, base64.b64encode(z.read(i)).decode()]"
            " for i in z.infolist()]}))\n",
            zipPath });
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        qWarning("zipfile: %s", python.readAllStandardError().constData());
        return { { "<unreadable>", QByteArray() } };
    }
    const QJsonObject out = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    if (!out.value("bad").isNull())
        return { { "<bad CRC>", out.value("bad").toString().toUtf8() } };
    Tree tree;
    for (const QJsonValue& e : out.value("entries").toArray()) {
        const QJsonArray pair = e.toArray();
        names->append(pair.at(0).toString());
        tree.insert(pair.at(0).toString(), QByteArray::fromBase64(pair.at(1).toString().toLatin1()));
    }
    return tree;
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
        const QByteArray db = pseudoRandom(3 * 1024 * 1024 + 5, 1); // more than one piece
        const QByteArray view = "[MainWindow]\ngeometry=@ByteArray(\\x1\\xd9\\xd0\\xcb)\n";
        QTest::newRow("top level") << Tree {
            { "config.ini", kConfig }, { "view.conf", view }, { "measurement.db3", db }
        } << Tree { { "config.ini", kConfigBlanked }, { "view.conf", view }, { "measurement.db3", db } };
        QTest::newRow("sub-folders") << Tree { { "logs/a.txt", "a" }, { "logs/deep/b.bin", pseudoRandom(70000, 2) },
            { "empty/", "" }, { ".hidden", "h" }, { "logs/.seen/x", "x" } }
                                     << Tree { { "logs/", "" }, { "logs/a.txt", "a" }, { "logs/deep/", "" },
                                            { "logs/deep/b.bin", pseudoRandom(70000, 2) }, { "empty/", "" } };
        // Only the leading folder goes; a folder called "data" inside keeps its name, and only
        // the top-level configuration is the program's.
        QTest::newRow("nested data") << Tree { { "data/x.txt", "x" }, { "sub/data/config.ini", kConfig } }
                                     << Tree { { "data/", "" }, { "data/x.txt", "x" }, { "sub/", "" },
                                            { "sub/data/", "" }, { "sub/data/config.ini", kConfig } };
        QTest::newRow("cyrillic names") << Tree { { "журнал/запись 1.txt", "Температура" } }
                                        << Tree { { "журнал/", "" }, { "журнал/запись 1.txt", "Температура" } };
        QTest::newRow("empty folder") << Tree() << Tree();
    }

    void archive()
    {
        QFETCH(Tree, folder);
        QFETCH(Tree, expected);
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.filePath("data"), folder));
        const std::atomic_bool cancel { false };
        const ReportArchive::Outcome out
            = ReportArchive::write(dir.filePath("data"), dir.filePath("sent_data.zip"), cancel);
        QVERIFY2(out.ok, qPrintable(out.error));
        QCOMPARE(out.entries, expected.size());
        QStringList names;
        QCOMPARE(readBack(dir.filePath("sent_data.zip"), &names), expected);
        QCOMPARE(names.size(), expected.size());
        // Nothing but the archive is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "sent_data.zip" });
    }

    // A cancelled or failed build leaves the archive of the previous send as it was.
    void keepsOldArchive_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("target");
        QTest::newRow("cancelled") << true << "sent_data.zip";
        QTest::newRow("folder missing") << false << "missing/sent_data.zip";
    }

    void keepsOldArchive()
    {
        QFETCH(bool, cancel);
        QFETCH(QString, target);
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.filePath("data"), { { "measurement.db3", pseudoRandom(5000, 3) } }));
        QFile old(dir.filePath("sent_data.zip"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        const std::atomic_bool flag { cancel };
        const ReportArchive::Outcome out = ReportArchive::write(dir.filePath("data"), dir.filePath(target), flag);
        QVERIFY(!out.ok);
        QCOMPARE(out.cancelled, cancel);
        QCOMPARE(out.error.isEmpty(), cancel);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "sent_data.zip" });
    }

    void withoutPasswords_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("line ends kept") << kConfig << kConfigBlanked;
        QTest::newRow("plain LF, any case") << QByteArray("[x]\nDBPASSWORD=a\nPasswordHint\nuser=password\n")
                                            << QByteArray("[x]\nDBPASSWORD=\nPasswordHint\nuser=password\n");
        QTest::newRow("comments and sections") << QByteArray(";Password=a\n#password=b\n[password=c]\n")
                                               << QByteArray(";Password=a\n#password=b\n[password=c]\n");
    }

    void withoutPasswords()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, expected);
        QCOMPARE(ReportArchive::withoutPasswords(ini), expected);
    }
};

QTEST_GUILESS_MAIN(TestReportArchive)
#include "tst_reportarchive.moc"
