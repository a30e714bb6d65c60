#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "mail/smtp.h"
#include "scriptedsmtppeer.h"
#include "testcerts.h"
#include "warningguard.h"

using Steps = QList<ScriptedSmtpPeer::Step>;
using Commands = QList<QByteArray>;
Q_DECLARE_METATYPE(Steps)

namespace
{

constexpr int kTimeoutMs = 800;
const QString kUser = QStringLiteral("alarm@ostrivel.test");
const QString kPass = QStringLiteral("s3cret");

// The commands of an accepted letter with the body "line one\n.\nline three".
const Commands kAccepted = {
    "EHLO localhost",
    "EHLO localhost",
    "AUTH LOGIN",
    "YWxhcm1Ab3N0cml2ZWwudGVzdA==",
    "czNjcmV0",
    "MAIL FROM:<alarm@ostrivel.test>",
    "RCPT TO:<ops@ostrivel.test>",
    "DATA",
    "To: ops@ostrivel.test\r\nFrom: alarm@ostrivel.test\r\nSubject: Alarm\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=frontier\r\n\r\n--frontier\r\n"
    "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
    "line one\r\n..\r\nline three\r\n\r\n--frontier--\r\n\r\n",
    "QUIT",
};

// Date and Message-ID differ with every letter: their form is checked, then they are left
// out, so that the rest of the letter compares byte for byte.
Commands unstamped(const Commands& session)
{
    static const QRegularExpression stamp(
        QStringLiteral("\r\nDate: \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\r\nMessage-ID: "
                       "<[0-9a-f-]{36}@ostrivel\\.test>(?=\r\n)"));
    Commands c = session;
    if (c.size() > 8)
        c[8] = QString::fromLatin1(c[8]).remove(stamp).toLatin1();
    return c;
}

} // namespace

class TestSmtp : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    TestCerts certs;

    Smtp* client(int port)
    {
        auto* smtp = new Smtp(kUser, kPass, QStringLiteral("localhost"), port, kTimeoutMs);
        smtp->setSslConfiguration(certs.clientConfiguration());
        return smtp;
    }

    static bool send(Smtp* smtp, const QStringList& files = {})
    {
        return smtp->sendMail(kUser, QStringLiteral("ops@ostrivel.test"), QStringLiteral("Alarm"),
            QStringLiteral("line one\n.\nline three"), files);
    }

    // One done() and no second one after it.
    static bool doneOnce(QSignalSpy& spy, bool expected, int waitMs)
    {
        if (spy.isEmpty() && !spy.wait(waitMs))
            return false;
        QTest::qWait(150);
        return spy.size() == 1 && spy.first().first().toBool() == expected;
    }

    // After a failure the same client still delivers a letter.
    void checkReadyForNextLetter(Smtp* smtp)
    {
        ScriptedSmtpPeer good(certs.serverCert, certs.serverKey);
        good.script = ScriptedSmtpPeer::acceptingScript();
        QVERIFY(good.start());
        smtp->setParams(kUser, kPass, QStringLiteral("localhost"), good.serverPort());
        QSignalSpy done(smtp, &Smtp::done);
        QVERIFY(send(smtp));
        QVERIFY2(doneOnce(done, true, 10000), qPrintable(smtp->lastError()));
        QTRY_COMPARE(unstamped(good.sessions.value(0)), kAccepted);
    }

private slots:
    void initTestCase()
    {
        WarningGuard::install();
        QVERIFY(dir.isValid());
        QVERIFY2(certs.create(dir.path()), qPrintable(certs.error));
    }

    // Nothing in a case may log a warning nobody expected.
    void cleanup() { QCOMPARE(WarningGuard::take(), 0); }

    void dialogue_data()
    {
        QTest::addColumn<Steps>("script");
        const Steps accepting = ScriptedSmtpPeer::acceptingScript();
        QTest::newRow("plain replies") << accepting;
        Steps s = accepting;
        s[1].chunks = { "250-peer\r\n250-SIZE 1000\r\n250-8BITMIME\r\n250 AUTH LOGIN\r\n" };
        QTest::newRow("multi-line reply whole") << s;
        s[1].chunks = { "250-peer\r\n250-SI", "ZE 1000\r\n250-8BITMIME\r\n", "250 AUTH LOGIN\r\n" };
        QTest::newRow("multi-line reply split") << s;
        s = accepting;
        s[0].chunks = { "2", "20 ready\r", "\n" };
        QTest::newRow("greeting split") << s;
        s = accepting;
        s[0].chunks = { "220 ready\r\n250-peer\r\n250 AUTH LOGIN\r\n" };
        s[1].chunks.clear();
        QTest::newRow("two replies in one packet") << s;
    }

    void dialogue()
    {
        // Nothing of the login, not even that a credential goes out, reaches the log.
        static QStringList logged;
        static QtMessageHandler previous = nullptr;
        logged.clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            logged << text;
            previous(type, context, text);
        });
        const auto restore = qScopeGuard([] { qInstallMessageHandler(previous); });
        QFETCH(Steps, script);
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = script;
        QVERIFY(peer.start());
        QScopedPointer<Smtp> smtp(client(peer.serverPort()));
        QSignalSpy done(smtp.data(), &Smtp::done);
        QVERIFY(send(smtp.data()));
        QVERIFY2(doneOnce(done, true, 10000), qPrintable(smtp->lastError()));
        QTRY_COMPARE(unstamped(peer.sessions.value(0)), kAccepted);
        QVERIFY(!smtp->isBusy());
        QCOMPARE(logged, QStringList());
        checkReadyForNextLetter(smtp.data());
    }

    void rejection_data()
    {
        QTest::addColumn<int>("step");
        const char* names[] = { "greeting", "EHLO", "second EHLO", "AUTH LOGIN", "login", "credential", "MAIL FROM",
            "RCPT TO", "DATA", "letter" };
        for (int i = 0; i < 10; ++i)
            QTest::newRow(names[i]) << i;
    }

    // A refusal at any step ends the letter at once: done(false), not a command more.
    void rejection()
    {
        QFETCH(int, step);
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        peer.script[step].chunks = { "554-5.7.1 refused\r\n554 5.7.1 no\r\n" };
        QVERIFY(peer.start());
        QScopedPointer<Smtp> smtp(client(peer.serverPort()));
        QSignalSpy done(smtp.data(), &Smtp::done);
        QVERIFY(send(smtp.data()));
        QVERIFY(doneOnce(done, false, 10000));
        QVERIFY2(smtp->lastError().contains("554 5.7.1 no"), qPrintable(smtp->lastError()));
        QTest::qWait(200);
        QCOMPARE(unstamped(peer.sessions.value(0)), kAccepted.mid(0, step));
        checkReadyForNextLetter(smtp.data());
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("timesOut");
        for (const char* f : { "silent server", "silent after DATA", "refused connection", "untrusted certificate" })
            QTest::newRow(f) << QString(f) << (QByteArray(f).startsWith("silent"));
        for (const char* f : { "close after greeting", "close during the letter", "garbage", "endless line" })
            QTest::newRow(f) << QString(f) << false;
    }

    // Every fault ends with one done(false) within the time-out, and the client stays usable.
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, timesOut);
        const bool rogue = fault == "untrusted certificate";
        ScriptedSmtpPeer peer(rogue ? certs.rogueCert : certs.serverCert, rogue ? certs.rogueKey : certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        if (fault == "silent server")
            peer.script.clear();
        else if (fault == "silent after DATA")
            peer.script = peer.script.mid(0, 9);
        else if (fault == "close after greeting")
            peer.script[1] = { {}, true };
        else if (fault == "close during the letter")
            peer.script[9] = { {}, true };
        else if (fault == "garbage")
            peer.script[0].chunks = { "hello there\r\n" };
        else if (fault == "endless line")
            peer.script[0].chunks = { QByteArray(70000, '2') };
        QVERIFY(peer.start());
        const int port = peer.serverPort();
        if (fault == "refused connection")
            peer.close();
        QScopedPointer<Smtp> smtp(client(port));
        QSignalSpy done(smtp.data(), &Smtp::done);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(send(smtp.data()));
        QVERIFY(doneOnce(done, false, kTimeoutMs + 5000));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed < kTimeoutMs + 3000, QByteArray::number(elapsed));
        if (timesOut)
            QVERIFY2(elapsed >= kTimeoutMs - 50, QByteArray::number(elapsed));
        QVERIFY(!smtp->lastError().isEmpty());
        if (rogue)
            QCOMPARE(peer.sessions.value(0), Commands());
        checkReadyForNextLetter(smtp.data());
    }

    void refusedLetters_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("unreadableFile");
        QTest::newRow("LF in sender") << "a@b.test\nRCPT TO:<x@y.test>"
                                      << "ops@ostrivel.test"
                                      << "Alarm" << false;
        QTest::newRow("CR in recipient") << "a@b.test"
                                         << "ops@ostrivel.test\r"
                                         << "Alarm" << false;
        QTest::newRow("CRLF in subject") << "a@b.test"
                                         << "ops@ostrivel.test"
                                         << "Alarm\r\nBcc: x@y.test" << false;
        QTest::newRow("unreadable attachment") << "a@b.test"
                                               << "ops@ostrivel.test"
                                               << "Alarm" << true;
    }

    // A letter refused for its content makes no connection and gives done(false) once.
    void refusedLetters()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, subject);
        QFETCH(bool, unreadableFile);
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        QVERIFY(peer.start());
        QScopedPointer<Smtp> smtp(client(peer.serverPort()));
        QSignalSpy done(smtp.data(), &Smtp::done);
        // A folder exists but cannot be read as a file.
        const QStringList files
            = unreadableFile ? QStringList { dir.filePath("missing.bin"), dir.path() } : QStringList();
        QVERIFY(!smtp->sendMail(from, to, subject, "body", files));
        QVERIFY(doneOnce(done, false, 1000));
        QCOMPARE(peer.connections, 0);
        checkReadyForNextLetter(smtp.data());
    }

    // The close signal stops a letter under way without done(); a letter meanwhile is refused.
    void closeSignal()
    {
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript().mid(0, 9);
        QVERIFY(peer.start());
        QScopedPointer<Smtp> smtp(client(peer.serverPort()));
        QSignalSpy done(smtp.data(), &Smtp::done);
        QVERIFY(send(smtp.data()));
        QTRY_COMPARE(peer.sessions.value(0).size(), 9);
        QVERIFY(smtp->isBusy());
        QVERIFY(!send(smtp.data()));
        emit smtp->cloleConection();
        QVERIFY(!smtp->isBusy());
        QTest::qWait(kTimeoutMs + 300);
        QCOMPARE(done.size(), 0);
        checkReadyForNextLetter(smtp.data());
    }
};

QTEST_GUILESS_MAIN(TestSmtp)
#include "tst_smtp.moc"
