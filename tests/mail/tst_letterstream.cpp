// The letter streamed from its files, piece by piece, against the whole letter built in
// memory: the same bytes, whatever the sizes of the files.
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "mail/letterstream.h"
#include "mail/mimeletter.h"

namespace
{

// Bytes that vary, so that a piece read twice or skipped shows.
QByteArray content(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestLetterStream : public QObject
{
    Q_OBJECT
private slots:
    // Sizes around the 57-byte groups of a base64 line and the 57 × 4096 bytes read at a time.
    void sameAsWholeLetter_data()
    {
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no attachment") << QList<int>() << QStringList();
        QTest::newRow("empty file") << QList<int> { 0 } << QStringList { "empty.bin" };
        QTest::newRow("one byte") << QList<int> { 1 } << QStringList { "a.bin" };
        QTest::newRow("one line") << QList<int> { 57 } << QStringList { "a.bin" };
        QTest::newRow("one line and a byte") << QList<int> { 58 } << QStringList { "a.bin" };
        QTest::newRow("one piece") << QList<int> { 57 * 4096 } << QStringList { "a.bin" };
        QTest::newRow("one piece and a byte") << QList<int> { 57 * 4096 + 1 } << QStringList { "a.bin" };
        QTest::newRow("several pieces") << QList<int> { 3 * 57 * 4096 + 100 } << QStringList { "sent_data.zip" };
        QTest::newRow("two files") << QList<int> { 57 * 4096 - 1, 5 } << QStringList { "a.bin", "отчёт 1.zip" };
    }
    void sameAsWholeLetter()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QList<MimeLetter::Attachment> attachments;
        QStringList paths;
        for (int i = 0; i < sizes.size(); ++i) {
            const QByteArray bytes = content(sizes[i], quint32(i + 1));
            QFile file(dir.filePath(names[i]));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            attachments.append({ names[i], bytes });
            paths << file.fileName();
        }
        // A path that does not exist is left out, as the whole letter leaves it out.
        paths << dir.filePath("missing.bin");
        const QDateTime date(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);
        const QByteArray head
            = MimeLetter::head("a@ostrivel.test", "b@ostrivel.test", "Тема", "text\n.", date, "<id@x>");

        LetterStream stream;
        QString error;
        QVERIFY2(stream.open(head, paths, &error), qPrintable(error));
        QByteArray streamed;
        QByteArray piece;
        int pieces = 0;
        while (stream.next(&piece, &error)) {
            streamed += piece;
            // No piece holds much more than one read of a file.
            QVERIFY(piece.size() <= 57 * 4096 * 4 / 3 + 4096 * 2 || piece == head);
            ++pieces;
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(stream.atEnd());
        QCOMPARE(streamed,
            MimeLetter::build("a@ostrivel.test", "b@ostrivel.test", "Тема", "text\n.", attachments, date, "<id@x>"));
        QVERIFY(pieces >= 2 + 2 * sizes.size());
    }

    // A file that is there but cannot be read refuses the letter before anything is sent.
    void unreadableFileRefused()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A folder cannot be opened as a file, even by root.
        LetterStream stream;
        QString error;
        QVERIFY(!stream.open("head", { dir.path() }, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Не удалось прочитать вложение ") + dir.path() + ": "), qPrintable(error));
        QVERIFY(stream.atEnd());
        QByteArray piece;
        QVERIFY(!stream.next(&piece, &error));
    }
};

QTEST_GUILESS_MAIN(TestLetterStream)
#include "tst_letterstream.moc"
