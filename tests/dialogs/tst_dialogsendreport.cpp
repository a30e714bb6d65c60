// The problem report as real TLS SMTP servers receive it: aiosmtpd for the letters, our
// scripted peer for failures and the cancel.
#include <QCheckBox>
#include <QDir>
#include <QJsonArray>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include "aiosmtpdpeer.h"
#include "dialogs/prompt.h"
#include "dialogs/dialogsendreport.h"
#include "scriptedsmtppeer.h"
#include "testcerts.h"
#include "warningguard.h"

using Script = QList<ScriptedSmtpPeer::Step>;
Q_DECLARE_METATYPE(Script)

namespace
{

const QString kLogin = QStringLiteral("relay@ostrivel.test");
const QString kPass = QStringLiteral("relay-pw");
const QString kSupport = QStringLiteral("support@ostrivel.test");
const QString kFailure = QStringLiteral("Отправка E-mail|Неудалось отправить сообщение:\n\n");

class RecordingPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    void critical(const QString& title, const QString& text) override { shown << title + '|' + text; }
    void warning(const QString& title, const QString& text) override { shown << title + '|' + text; }
    void information(const QString& title, const QString& text) override { shown << title + '|' + text; }
    QStringList shown;
};

} // namespace

class TestDialogSendReport : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    TestCerts certs;
    AiosmtpdPeer server;
    RecordingPrompt answers;
    int received = 0;

    std::unique_ptr<DialogSendReport> shared;

    // Fills the form and presses "Отправить".
    void send(DialogSendReport& dialog, const QString& address, const QString& text, bool attach)
    {
        dialog.show();
        dialog.findChild<QTextEdit*>("msgFrom")->setPlainText(address);
        dialog.findChild<QPlainTextEdit*>("msgMessage")->setPlainText(text);
        auto* box = dialog.findChild<QCheckBox*>("isSendData");
        if (box->isChecked() != attach)
            box->click();
        dialog.findChild<QPushButton*>("pushSend")->click();
    }

    static QString texts(DialogSendReport& dialog)
    {
        return dialog.findChild<QTextEdit*>("msgFrom")->toPlainText()
            + dialog.findChild<QPlainTextEdit*>("msgMessage")->toPlainText();
    }

private slots:
    void initTestCase()
    {
        WarningGuard::install();
        setPrompt(&answers);
        QVERIFY(dir.isValid() && QDir::setCurrent(dir.path()));
        QVERIFY2(certs.create(dir.path()), qPrintable(certs.error));
        QVERIFY(QDir().mkpath("letters") && QDir().mkpath("data/logs"));
        QFile config("data/config.ini");
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write("[DB]\nPassword=x\n") > 0);
        QVERIFY2(server.start(certs, dir.filePath("letters"), kLogin, kPass), qPrintable(server.error));
    }

    void cleanupTestCase() { shared.reset(); }

    void cleanup()
    {
        answers.shown.clear();
        QCOMPARE(WarningGuard::take(), 0);
    }

    void letters_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("attach");
        QTest::addColumn<QString>("subject");
        const QString subject = "Проблемы с Ravok";
        QTest::newRow("nothing typed") << QString() << QString() << false << subject;
        QTest::newRow("address, data") << "iv@example.test"
                                       << "Нет\nданных" << true << subject + " от iv@example.test";
        QTest::newRow("line break") << "a@example.test\nBcc: b@example.test"
                                    << "." << false << subject + " от a@example.test Bcc: b@example.test";
        QTest::newRow("data again") << QString() << "second" << true << subject;
    }

    // One dialog for every row: each send reuses its client.
    void letters()
    {
        QFETCH(QString, address);
        QFETCH(QString, text);
        QFETCH(bool, attach);
        QFETCH(QString, subject);
        if (!shared)
            shared = std::make_unique<DialogSendReport>();
        DialogSendReport& dialog = *shared;
        dialog.setRelay({ "localhost", server.port, kLogin, kPass }, kSupport);
        dialog.setSslConfiguration(certs.clientConfiguration());
        QFile::remove("sent_data.zip");
        QSignalSpy closed(&dialog, &QDialog::finished);
        send(dialog, address, text, attach);
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 20000);
        QCOMPARE(answers.shown, QStringList());
        QCOMPARE(texts(dialog), QString());

        const QJsonObject letter = server.waitForLetter(received++, 10000);
        QCOMPARE(letter.value("mailFrom").toString(), kLogin);
        QCOMPARE(letter.value("rcptTos").toArray(), QJsonArray { kSupport });
        QCOMPARE(letter.value("subject").toString(), subject);
        const QJsonArray parts = letter.value("parts").toArray();
        QCOMPARE(
            QString::fromUtf8(QByteArray::fromBase64(parts.at(0).toObject().value("payload").toString().toLatin1())),
            QString(text).replace("\n", "\r\n") + "\r\n");
        QCOMPARE(parts.size(), attach ? 2 : 1);
        QFile zip("sent_data.zip");
        QCOMPARE(zip.open(QIODevice::ReadOnly), attach);
        if (attach) {
            QCOMPARE(parts.at(1).toObject().value("filename").toString(), zip.fileName());
            QCOMPARE(
                QByteArray::fromBase64(parts.at(1).toObject().value("payload").toString().toLatin1()), zip.readAll());
        }
    }

    void endings_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<bool>("relay");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("warning");
        Script refused = ScriptedSmtpPeer::acceptingScript();
        refused[5] = { { "535 5.7.8 Authentication failed\r\n" } };
        QTest::newRow("credential refused") << refused << true << false << kFailure;
        QTest::newRow("connection dropped") << Script { { {}, true } } << true << false << kFailure;
        QTest::newRow("cancel while waiting") << Script() << true << true << QString();
        // The default build: the dialog says so, keeps the texts and stays open.
        QTest::newRow("no relay") << Script() << false << false
                                  << "Отправка E-mail|Отправка сообщений разработчику не настроена";
    }

    // Every way a send ends closes the progress window, clears the texts and closes the dialog;
    // only a failure says so, with its reason.
    void endings()
    {
        QFETCH(Script, script);
        QFETCH(bool, relay);
        QFETCH(bool, cancel);
        QFETCH(QString, warning);
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = script;
        QVERIFY(peer.start());
        DialogSendReport dialog;
        dialog.setRelay({ relay ? "localhost" : "", peer.serverPort(), kLogin, kPass }, kSupport);
        dialog.setSslConfiguration(certs.clientConfiguration());
        QSignalSpy closed(&dialog, &QDialog::finished);
        send(dialog, "me@example.test", "text", true);
        if (cancel) {
            // The peer never greets; the user gives up once the connection stands.
            QTRY_COMPARE(peer.connections, 1);
            dialog.findChild<QProgressDialog*>()->findChild<QPushButton*>()->click();
        }
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), relay ? 1 : 0, 20000);
        QVERIFY(!dialog.findChild<QProgressDialog*>()->isVisible());
        QCOMPARE(texts(dialog), relay ? QString() : "me@example.testtext");
        QCOMPARE(answers.shown.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(answers.shown.first().startsWith(warning) && answers.shown.first().size() > warning.size(),
                qPrintable(answers.shown.first()));
    }
};

QTEST_MAIN(TestDialogSendReport)
#include "tst_dialogsendreport.moc"
