#include <QTest>

#include "mail/smtpreplyreader.h"

using Chunks = QList<QByteArray>;
using Replies = QList<QPair<int, QStringList>>;

class TestSmtpReplyReader : public QObject
{
    Q_OBJECT
private slots:
    void framing_data()
    {
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<Replies>("expected");
        const QStringList ehlo { "250-peer", "250-SIZE 1000", "250 AUTH LOGIN" };
        QTest::newRow("single line") << Chunks { "220 ready\r\n" } << Replies { { 220, { "220 ready" } } };
        QTest::newRow("multi-line whole")
            << Chunks { "250-peer\r\n250-SIZE 1000\r\n250 AUTH LOGIN\r\n" } << Replies { { 250, ehlo } };
        QTest::newRow("multi-line split")
            << Chunks { "250-peer\r\n25", "0-SIZE 1000\r", "\n250 AUTH LOGIN", "\r\n" } << Replies { { 250, ehlo } };
        QTest::newRow("several in one packet")
            << Chunks { "220 hi\r\n250-peer\r\n250-SIZE 1000\r\n250 AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n" }
            << Replies { { 220, { "220 hi" } }, { 250, ehlo }, { 334, { "334 VXNlcm5hbWU6" } } };
        QTest::newRow("bare line feed and bare code")
            << Chunks { "235 ok\n250\r\n" } << Replies { { 235, { "235 ok" } }, { 250, { "250" } } };
        QTest::newRow("incomplete") << Chunks { "250-peer\r\n250 AUTH" } << Replies();
        QTest::newRow("not a reply") << Chunks { "hello there\r\n" } << Replies { { -1, { "hello there" } } };
        QTest::newRow("no separator after code") << Chunks { "2500 ok\r\n" } << Replies { { -1, { "2500 ok" } } };
        QTest::newRow("codes differ") << Chunks { "250-a\r\n251 b\r\n" } << Replies { { -1, { "250-a", "251 b" } } };
    }

    void framing()
    {
        QFETCH(Chunks, chunks);
        QFETCH(Replies, expected);
        SmtpReplyReader reader;
        Replies got;
        SmtpReplyReader::Reply reply;
        for (const QByteArray& c : chunks) {
            reader.append(c);
            while (reader.takeReply(&reply))
                got.append({ reply.code, reply.lines });
        }
        QCOMPARE(got, expected);
    }

    void pendingTextIsCapped()
    {
        SmtpReplyReader reader;
        reader.append("250-" + QByteArray(SmtpReplyReader::kMaxPending / 2, 'x') + "\r\n");
        SmtpReplyReader::Reply reply;
        QVERIFY(!reader.takeReply(&reply));
        QVERIFY(!reader.overflowed());
        reader.append("250-" + QByteArray(SmtpReplyReader::kMaxPending / 2, 'x'));
        QVERIFY(reader.overflowed());
        reader.clear();
        reader.append("220 ok\r\n");
        QVERIFY(reader.takeReply(&reply));
        QVERIFY(!reader.overflowed());
        // The same overlong reply arriving in one packet, behind a short one, is refused too.
        const QByteArray half = QByteArray(SmtpReplyReader::kMaxPending / 2, 'x');
        reader.append("220 ok\r\n250-" + half + "\r\n250 " + half + "\r\n");
        QVERIFY(reader.takeReply(&reply));
        QVERIFY(!reader.takeReply(&reply));
        QVERIFY(reader.overflowed());
    }
};

QTEST_GUILESS_MAIN(TestSmtpReplyReader)
#include "tst_smtpreplyreader.moc"
