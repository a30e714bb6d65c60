#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "aiosmtpdpeer.h"
#include "mail/mailaccount.h"
#include "mail/notifications.h"
#include "scriptedsmtppeer.h"
#include "testcerts.h"
#include "warningguard.h"

using Messages = QList<NotificationsMessage>;

namespace
{

const QString kLogin = QStringLiteral("alarm@ostrivel.test");
const QString kPass = QStringLiteral("s3cret");
const QString kRecipient = QStringLiteral("ops@ostrivel.test");
constexpr int kTickMs = 150;

NotificationsMessage message(
    const QString& sensor, const QString& eui, const QString& room, int type, const QVariant& value)
{
    NotificationsMessage m;
    m.sensorName = sensor;
    m.EUI64 = eui;
    m.locationName = room;
    m.type = type;
    m.value = value;
    return m;
}

QString line(const QString& sensor, const QString& eui, const QString& room, const QString& tail)
{
    return QString("В датчике \"%1\" [EUI64=%2, Помещение=\"%3\"], сработало событие: ").arg(sensor, eui, room) + tail;
}

const QString kPad = QString(29, QLatin1Char(' '));

// The module in its own thread, as the application runs it; stopped and deleted on scope exit.
class RunningModule
{
public:
    RunningModule(const TestCerts& certs, int port)
    {
        module->setIntervals(kTickMs, 5000);
        module->setSslConfiguration(certs.clientConfiguration());
        module->moveToThread(module);
        module->start();
        call([m = module, port] { m->slotSetEmailSettings("localhost", port, kLogin, kPass, kRecipient); });
    }
    ~RunningModule()
    {
        call([m = module] { m->slotStopModule(); });
        if (module->wait(10000))
            delete module;
    }
    template <typename F> void call(F f) { QMetaObject::invokeMethod(module, f, Qt::QueuedConnection); }
    void add(const NotificationsMessage& m)
    {
        call([mod = module, m] { mod->slotAddMessage(m); });
    }

    Notifications* module = new Notifications(nullptr);
};

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    TestCerts certs;

private slots:
    void initTestCase()
    {
        WarningGuard::install();
        QVERIFY(dir.isValid());
        QVERIFY2(certs.create(dir.path()), qPrintable(certs.error));
    }

    // Nothing in a case may log a warning nobody expected.
    void cleanup() { QCOMPARE(WarningGuard::take(), 0); }

    void eventText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        const char* texts[] = { "", "тестовое письмо с целью проверки настроек",
            "минимально допустимая критическая температура", "минимально допустимая некритическая температура",
            "максимально допустимая некритическая температура", "максимально допустимая критическая температура",
            "минимально допустимая критическая влажность", "минимально допустимая некритическая влажность",
            "максимально допустимая некритическая влажность", "максимально допустимая критическая влажность",
            "необходимо заменить элементы питания", "датчик на выходит на связь", "" };
        for (int type = 0; type <= 12; ++type)
            QTest::addRow("type %d", type) << type << QString(texts[type]);
        QTest::newRow("negative") << -1 << QString();
    }

    void eventText()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        QCOMPARE(Notifications::eventText(type), text);
    }

    void letterLine_data()
    {
        QTest::addColumn<NotificationsMessage>("message");
        QTest::addColumn<QString>("expected");
        const QString eui = "000D6F0000A1B2C3";
        QTest::newRow("test letter") << message("", "", "", 1, 0.0)
                                     << line("", "", "", "тестовое письмо с целью проверки настроек ");
        QTest::newRow("humidity rounded")
            << message("Склад", eui, "Подвал", 9, 85.456)
            << line("Склад", eui, "Подвал",
                   "максимально допустимая критическая влажность" + kPad + "со значением 85.46");
        QTest::newRow("battery two decimals") << message("S1", eui, "Hall", 10,
            2.4) << line("S1", eui, "Hall", "необходимо заменить элементы питания" + kPad + "со значением 2.40");
        QTest::newRow("sensor lost") << message("S1", eui, "Hall", 11, 125.0)
                                     << line("S1", eui, "Hall", "датчик на выходит на связь 125");
        QTest::newRow("unknown type") << message("S1", eui, "Hall", 12, -3.0)
                                      << line("S1", eui, "Hall", kPad + "со значением -3.00");
        QTest::newRow("placeholders in names stay")
            << message("Room %3", "%1", "Hall %2 %4", 2, 4.5)
            << line("Room %3", "%1", "Hall %2 %4",
                   "минимально допустимая критическая температура" + kPad + "со значением 4.50");
    }

    void letterLine()
    {
        QFETCH(NotificationsMessage, message);
        QFETCH(QString, expected);
        QCOMPARE(Notifications::letterLine(message), expected);
    }

    void alarmAccount_data()
    {
        QTest::addColumn<QString>("relayHost");
        QTest::addColumn<QString>("expectedHost");
        QTest::newRow("no built-in relay") << ""
                                           << "mail.example.test";
        QTest::newRow("built-in relay") << "relay.example.test"
                                        << "relay.example.test";
    }

    void alarmAccount()
    {
        QFETCH(QString, relayHost);
        QFETCH(QString, expectedHost);
        const MailAccount relay { relayHost, 465, "relay", "r" };
        const MailAccount configured { "mail.example.test", 2465, "me", "m" };
        const MailAccount chosen = MailAccount::forAlarms(relay, configured);
        QCOMPARE(chosen.host, expectedHost);
        QCOMPARE(chosen.login, relayHost.isEmpty() ? QString("me") : QString("relay"));
    }

    // Three alarms and the test line reach a real server as one letter within a tick.
    void letterReachesServer()
    {
        if (!MailAccount::builtIn().host.isEmpty())
            QSKIP("this build sends alarms through its built-in relay");
        QVERIFY(QDir(dir.path()).mkpath("letters"));
        AiosmtpdPeer server;
        QVERIFY2(server.start(certs, dir.filePath("letters"), kLogin, kPass), qPrintable(server.error));
        RunningModule running(certs, server.port);
        const Messages alarms { message("Склад", "000D6F0000A1B2C3", "Подвал", 5, 31.456),
            message("Room %3", "000D6F0000A1B2C4", "Hall", 10, 2.4),
            message("S3", "000D6F0000A1B2C5", "Hall", 11, 600) };
        for (const NotificationsMessage& m : alarms)
            running.add(m);
        running.call([m = running.module] { m->slotSendTestLetter(); });

        const QJsonObject letter = server.waitForLetter(0, kTickMs + 10000);
        QCOMPARE(letter.value("mailFrom").toString(), kLogin);
        QCOMPARE(letter.value("rcptTos").toArray(), QJsonArray { kRecipient });
        QCOMPARE(letter.value("subject").toString(), QString("Уведомления Tarnel Ravok"));
        const QString body = QString::fromUtf8(QByteArray::fromBase64(
            letter.value("parts").toArray().at(0).toObject().value("payload").toString().toLatin1()));
        const QString expected = line("Склад", "000D6F0000A1B2C3", "Подвал",
                                     "максимально допустимая критическая температура" + kPad + "со значением 31.46\r\n")
            + line("Room %3", "000D6F0000A1B2C4", "Hall",
                "необходимо заменить элементы питания" + kPad + "со значением 2.40\r\n")
            + line("S3", "000D6F0000A1B2C5", "Hall", "датчик на выходит на связь 600\r\n")
            + line("", "", "", "тестовое письмо с целью проверки настроек \r\n") + "\r\n";
        QCOMPARE(body, expected);
        QTest::qWait(4 * kTickMs);
        QCOMPARE(server.letterCount(), 1);
    }

    // Ticks with nothing queued open no connection.
    void emptyTick()
    {
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        QVERIFY(peer.start());
        RunningModule running(certs, peer.serverPort());
        QTest::qWait(5 * kTickMs);
        QCOMPARE(peer.connections, 0);
        running.add(message("S1", "E", "R", 2, 1.0));
        QTRY_COMPARE(peer.sessions.value(0).value(9), QByteArray("QUIT"));
        QTest::qWait(3 * kTickMs);
        QCOMPARE(peer.connections, 1);
    }

    // While a letter is still on its way, later alarms wait for the next letter.
    void busyTickKeepsQueue()
    {
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        peer.script[8].delayMs = 5 * kTickMs; // a slow answer to DATA
        QVERIFY(peer.start());
        RunningModule running(certs, peer.serverPort());
        running.add(message("first", "E1", "R", 2, 1.0));
        QTRY_COMPARE(peer.sessions.value(0).size(), 8);
        running.add(message("second", "E2", "R", 2, 2.0));
        QTRY_COMPARE_WITH_TIMEOUT(peer.sessions.value(1).value(9), QByteArray("QUIT"), 15000);
        QCOMPARE(peer.connections, 2);
        const QString first = QString::fromUtf8(peer.sessions.at(0).at(8));
        const QString second = QString::fromUtf8(peer.sessions.at(1).at(8));
        QVERIFY(first.contains("\"first\"") && !first.contains("\"second\""));
        QVERIFY(second.contains("\"second\"") && !second.contains("\"first\""));
    }

    // A letter the server refuses keeps its lines: the next letter carries them, and the
    // refusal is shown.
    void refusedLetterKeepsItsLines()
    {
        ScriptedSmtpPeer peer(certs.serverCert, certs.serverKey);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        peer.script[9] = { { "451 4.3.0 Try again later\r\n" } };
        QVERIFY(peer.start());
        RunningModule running(certs, peer.serverPort());
        QStringList shown;
        connect(running.module, &Notifications::signalSetStatusText, this, [&](const QString& t) { shown << t; });
        running.add(message("first", "E1", "R", 2, 1.0));
        QTRY_COMPARE(shown.size(), 1);
        QVERIFY2(shown.at(0).startsWith("Не удалось отправить уведомления по E-mail"), qPrintable(shown.at(0)));
        running.add(message("second", "E2", "R", 2, 2.0));
        const auto carriesBoth = [&] {
            const QString letter = QString::fromUtf8(peer.sessions.last().value(8));
            return letter.contains("\"first\"") && letter.contains("\"second\"");
        };
        QTRY_VERIFY_WITH_TIMEOUT(carriesBoth(), 15000);
        peer.script = ScriptedSmtpPeer::acceptingScript();
        QTRY_VERIFY_WITH_TIMEOUT(peer.sessions.last().value(9) == "QUIT", 15000);
        const QString letter = QString::fromUtf8(peer.sessions.last().at(8));
        QVERIFY(letter.contains("\"first\"") && letter.contains("\"second\""));
        QVERIFY(letter.contains("\r\nDate: ") && letter.contains("\r\nMessage-ID: <"));
        // Accepted lines leave the queue: the next tick sends nothing.
        const int sessions = peer.sessions.size();
        QTest::qWait(3 * kTickMs);
        QCOMPARE(peer.sessions.size(), sessions);
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
