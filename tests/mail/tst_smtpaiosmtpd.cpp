#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "aiosmtpdpeer.h"
#include "mail/smtp.h"
#include "testcerts.h"
#include "warningguard.h"

using Files = QList<QPair<QString, QByteArray>>; // path under the test folder, content
Q_DECLARE_METATYPE(Files)

namespace
{

const QString kLogin = QStringLiteral("relay@ostrivel.test");
const QString kPass = QStringLiteral("pa:ss wörd");

QByteArray pseudoRandom(int size, uint seed)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = char(seed >> 16);
    }
    return data;
}

} // namespace

// Letters delivered to aiosmtpd, an SMTP server of its own, and read back by Python's email
// package.
class TestSmtpAiosmtpd : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    TestCerts certs;
    AiosmtpdPeer server;
    int received = 0;

private slots:
    void initTestCase()
    {
        WarningGuard::install();
        QVERIFY(dir.isValid());
        QVERIFY2(certs.create(dir.path()), qPrintable(certs.error));
        QVERIFY(QDir(dir.path()).mkpath("letters") && QDir(dir.path()).mkpath("files/deep"));
        QVERIFY2(server.start(certs, dir.filePath("letters"), kLogin, kPass), qPrintable(server.error));
    }

    // Nothing in a case may log a warning nobody expected.
    void cleanup() { QCOMPARE(WarningGuard::take(), 0); }

    void letters_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<Files>("files");
        QTest::newRow("alarm lines") << "Уведомления Tarnel Ravok"
                                     << "В датчике \"Склад\" [EUI64=000D6F0000A1B2C3, Помещение=\"Room %3\"]\r\n"
                                        "второй датчик\r\n"
                                     << Files();
        QTest::newRow("dot lines") << "Dots"
                                   << ".\n..two\n.three\nend." << Files();
        QTest::newRow("long subject") << QString("Превышена критическая влажность в помещении ").repeated(4) << "x"
                                      << Files();
        QTest::newRow("attachments") << "Report"
                                     << "see attachments"
                                     << Files { { "files/deep/sent_data.zip", pseudoRandom(100000, 7) },
                                            { "files/empty.bin", QByteArray() },
                                            { "files/one.bin", QByteArray(1, '\0') },
                                            { "files/dots.txt", ".\r\n.\r\n" },
                                            { "files/отчёт.txt", pseudoRandom(58, 3) } };
        // Several times what the client hands the socket ahead of the network: the letter is
        // fed as the connection drains.
        QTest::newRow("large attachment") << "Report"
                                          << "data" << Files { { "files/large.zip", pseudoRandom(6 << 20, 11) } };
    }

    void letters()
    {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(Files, files);
        QStringList paths;
        for (const auto& f : files) {
            QFile file(dir.filePath(f.first));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(f.second) == f.second.size());
            paths << file.fileName();
        }
        Smtp smtp(kLogin, kPass, QStringLiteral("localhost"), server.port, 10000);
        smtp.setSslConfiguration(certs.clientConfiguration());
        QSignalSpy done(&smtp, &Smtp::done);
        QVERIFY(smtp.sendMail(kLogin, QStringLiteral("ops@ostrivel.test"), subject, body, paths));
        QVERIFY(done.wait(15000));
        QCOMPARE(done.first().first().toBool(), true);

        const QJsonObject letter = server.waitForLetter(received++, 10000);
        QCOMPARE(letter.value("login").toString(), kLogin);
        QCOMPARE(letter.value("mailFrom").toString(), kLogin);
        QCOMPARE(letter.value("rcptTos").toArray(), QJsonArray { "ops@ostrivel.test" });
        QCOMPARE(letter.value("subject").toString(), subject);
        QCOMPARE(letter.value("boundary").toString(), QString("frontier"));
        const QJsonArray parts = letter.value("parts").toArray();
        QCOMPARE(parts.size(), 1 + files.size());
        const QJsonObject text = parts.at(0).toObject();
        QCOMPARE(text.value("contentType").toString(), QString("text/plain"));
        QCOMPARE(text.value("charset").toString(), QString("utf-8"));
        QString expectedText = body;
        expectedText.replace("\r\n", "\n").replace("\n", "\r\n");
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(text.value("payload").toString().toLatin1())),
            expectedText + "\r\n");
        for (int i = 0; i < files.size(); ++i) {
            const QJsonObject part = parts.at(i + 1).toObject();
            QCOMPARE(part.value("contentType").toString(), QString("application/octet-stream"));
            QCOMPARE(part.value("disposition").toString(), QString("attachment"));
            QCOMPARE(part.value("filename").toString(), QFileInfo(files.at(i).first).fileName());
            QCOMPARE(QByteArray::fromBase64(part.value("payload").toString().toLatin1()), files.at(i).second);
        }
    }

    void wrongCredential()
    {
        Smtp smtp(kLogin, QStringLiteral("wrong"), QStringLiteral("localhost"), server.port, 10000);
        smtp.setSslConfiguration(certs.clientConfiguration());
        QSignalSpy done(&smtp, &Smtp::done);
        QVERIFY(smtp.sendMail(kLogin, QStringLiteral("ops@ostrivel.test"), "Alarm", "body", {}));
        QVERIFY(done.wait(15000));
        QTest::qWait(200);
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toBool(), false);
        QVERIFY2(smtp.lastError().contains("credential") && !smtp.lastError().contains("wrong"),
            qPrintable(smtp.lastError()));
        QCOMPARE(server.letterCount(), received);
    }
};

QTEST_GUILESS_MAIN(TestSmtpAiosmtpd)
#include "tst_smtpaiosmtpd.moc"
