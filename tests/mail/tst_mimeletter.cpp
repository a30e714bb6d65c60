#include <QTest>

#include "mail/mimeletter.h"

using Attachments = QList<MimeLetter::Attachment>;
Q_DECLARE_METATYPE(Attachments)

namespace
{

const QByteArray kHead = "To: ops@ostrivel.test\r\n"
                         "From: alarm@ostrivel.test\r\n"
                         "Subject: Alarm\r\n"
                         "MIME-Version: 1.0\r\n"
                         "Content-Type: multipart/mixed; boundary=frontier\r\n"
                         "\r\n"
                         "--frontier\r\n"
                         "Content-Type: text/plain; charset=utf-8\r\n"
                         "Content-Transfer-Encoding: 8bit\r\n"
                         "\r\n";

QByteArray attachmentHead(const QByteArray& parameter)
{
    return "--frontier\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; " + parameter
        + ";\r\nContent-Transfer-Encoding: base64\r\n\r\n";
}

} // namespace

class TestMimeLetter : public QObject
{
    Q_OBJECT
private slots:
    void layout_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<Attachments>("attachments");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray end = "--frontier--\r\n";
        QTest::newRow("two lines") << "Alarm"
                                   << "first\nsecond" << Attachments() << kHead + "first\r\nsecond\r\n\r\n" + end;
        QTest::newRow("line ends of every kind") << "Alarm"
                                                 << "a\r\nb\rc\n\nd\r\n"
                                                 << Attachments() << kHead + "a\r\nb\r\nc\r\n\r\nd\r\n\r\n\r\n" + end;
        QTest::newRow("dot lines") << "Alarm"
                                   << ".\n.hidden\nmid.dot\n..\r\n." << Attachments()
                                   << kHead + "..\r\n..hidden\r\nmid.dot\r\n...\r\n..\r\n\r\n" + end;
        QTest::newRow("utf-8 body and subject")
            << "Уведомления Tarnel Ravok"
            << "Датчик №1" << Attachments()
            << QByteArray(kHead).replace(
                   "Subject: Alarm", "Subject: =?UTF-8?B?0KPQstC10LTQvtC80LvQtdC90LjRjyBUYXJuZWwgUmF2b2s=?=")
                + QString("Датчик №1").toUtf8() + "\r\n\r\n" + end;
        QTest::newRow("attachments") << "Alarm"
                                     << "see files"
                                     << Attachments { { "report.txt", "abc" }, { "empty.bin", "" },
                                            { "my log.txt", "\n" } }
                                     << kHead + "see files\r\n\r\n" + attachmentHead("filename=report.txt") + "YWJj\r\n"
                + attachmentHead("filename=empty.bin") + attachmentHead("filename=\"my log.txt\"") + "Cg==\r\n" + end;
    }

    void layout()
    {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(Attachments, attachments);
        QFETCH(QByteArray, expected);
        QCOMPARE(MimeLetter::build("alarm@ostrivel.test", "ops@ostrivel.test", subject, body, attachments), expected);
    }

    void base64Lines_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("lineLengths");
        QTest::newRow("empty") << 0 << QList<int>();
        QTest::newRow("one byte") << 1 << QList<int> { 4 };
        QTest::newRow("one full line") << 57 << QList<int> { 76 };
        QTest::newRow("just over") << 58 << QList<int> { 76, 4 };
        QTest::newRow("three lines") << 150 << QList<int> { 76, 76, 48 };
    }

    void base64Lines()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, lineLengths);
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char(i * 37 + 11);
        const QByteArray text = MimeLetter::base64Lines(data);
        QList<int> lengths;
        for (const QByteArray& line : text.split('\n').mid(0, lineLengths.size()))
            lengths.append(line.size());
        QCOMPARE(lengths, lineLengths);
        QVERIFY(text.isEmpty() || text.endsWith('\n'));
        QCOMPARE(QByteArray::fromBase64(QByteArray(text).replace('\n', "")), data);
    }

    void encodedSubjectWords_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::newRow("long cyrillic")
            << QString("Превышена критическая температура в помещении номер %1").arg(7).repeated(3);
        QTest::newRow("characters outside the BMP") << QString::fromUtf8("Тревога 🔥🔥🔥 ").repeated(6);
        QTest::newRow("control character") << QString("tab\there");
    }

    // Every encoded word stays within the limit and decodes on its own.
    void encodedSubjectWords()
    {
        QFETCH(QString, subject);
        const QByteArray encoded = MimeLetter::encodeHeaderText(subject);
        QString decoded;
        for (const QByteArray& word : encoded.split('\n')) {
            const QByteArray w = word.trimmed();
            QVERIFY2(w.size() <= 75 && w.startsWith("=?UTF-8?B?") && w.endsWith("?="), w);
            const QByteArray utf8 = QByteArray::fromBase64(w.mid(10, w.size() - 12));
            QCOMPARE(QString::fromUtf8(utf8).toUtf8(), utf8);
            decoded += QString::fromUtf8(utf8);
        }
        QCOMPARE(decoded, subject);
    }

    void fileNameParameter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("token") << "sent_data.zip" << QByteArray("filename=sent_data.zip");
        QTest::newRow("quotes and blanks") << "a \"b\".txt" << QByteArray("filename=\"a \\\"b\\\".txt\"");
        QTest::newRow("non-ascii") << "отчёт.zip" << QByteArray("filename*=UTF-8''%D0%BE%D1%82%D1%87%D1%91%D1%82.zip");
    }

    void fileNameParameter()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        QCOMPARE(MimeLetter::fileNameParameter(name), expected);
    }
};

QTEST_GUILESS_MAIN(TestMimeLetter)
#include "tst_mimeletter.moc"
