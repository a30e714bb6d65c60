// The problem-report archive of the data folder, read back by Python's zipfile.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "dialogs/reportarchive.h"

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
};

QTEST_GUILESS_MAIN(TestReportArchive)
#include "tst_reportarchive.moc"
