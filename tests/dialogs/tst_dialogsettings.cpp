// The settings dialog as a user drives it: every key shown, edited and saved to
// "data/config.ini", the defaults of each tab, the restart notices and refusals, and the test
// letter through the notification thread to a real TLS SMTP server.
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QHostInfo>
#include <QJsonArray>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

#include "aiosmtpdpeer.h"
#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "dialogs/dialogsettings.h"
#include "mail/mailaccount.h"
#include "mail/notifications.h"
#include "testcerts.h"
#include "ui_dialogsettings.h"

using Keys = QMap<QString, QString>;

namespace
{

const QString kRestart = QStringLiteral("\nЧтобы изменения вступили в силу\nнеобходимо перезапустить приложение");
const QString kComNotice = QStringLiteral("Внимание!|Вы выбрали другой COM порт.") + kRestart;
const QString kNetNotice = QStringLiteral("Внимание!|Вы выбрали другой сетевой порт.") + kRestart;
const QString kRefused
    = QStringLiteral("Внимание!|Сетевой порт должен быть числом от 1 до 65535.\nОставлен прежний порт: 7000");

// Every key with a value that is no default, some of them out of the widgets' ranges.
const Keys kConfig = { { "Modem/PortName", "COM7" }, { "Modem/NetworkPort", "7000" },
    { "DataWarning/TemperatureMinCritical", "-12.5" }, { "DataWarning/TemperatureMinWarning", "-2.5" },
    { "DataWarning/TemperatureMaxWarning", "27.5" }, { "DataWarning/TemperatureMaxCritical", "33.5" },
    { "DataWarning/WetnessMinCritical", "15.5" }, { "DataWarning/WetnessMinWarning", "25.5" },
    { "DataWarning/WetnessMaxWarning", "75.5" }, { "DataWarning/WetnessMaxCritical", "85.5" },
    { "DataWarning/BatteryMinCritical", "2.1" }, { "DataWarning/BatteryMinWarning", "2.5" },
    { "Other/BreakInterval", "125" }, { "Other/MaxTableRows", "20000" }, { "Other/DateTimeStyle", "3" },
    { "Other/DaysSave", "5000" }, { "Other/HideStart", "true" }, { "Other/TrayMessages", "true" },
    { "Other/ViewVoltage", "true" }, { "Other/ExportDBF", "true" }, { "Other/IntervalExportDBF", "17" },
    { "Other/PathExportDBF", "C:/Данные, отчёты;2\\dbf" }, { "Color/minimalCriticalHumidity", "#010101" },
    { "Color/maximalCriticalHumidity", "#020202" }, { "Color/minimalCriticalTemperature", "#030303" },
    { "Color/maximalCriticalTemperature", "#040404" }, { "Color/minimalNonCriticalHumidity", "#050505" },
    { "Color/maximalNonCriticalHumidity", "#060606" }, { "Color/minimalNonCriticalTemperature", "#070707" },
    { "Color/maximalNonCriticalTemperature", "#080808" }, { "Color/font", "#090909" }, { "Color/line", "#0a0a0a" },
    { "Color/node", "#0b0b0b" }, { "DB/Hostname", "db.example.test\\INST" }, { "DB/Database", "Метео" },
    { "DB/Username", "user,1" }, { "DB/Password", "p;a=ss\\" }, { "DB/Port", "3306" }, { "DB/DBType", "2" },
    { "EmailNotifications/isActive", "true" }, { "EmailNotifications/serverSMTP", "smtp.example.test" },
    { "EmailNotifications/serverPort", "2465" }, { "EmailNotifications/serverLogin", "login" },
    { "EmailNotifications/serverPassword", "sec,ret" }, { "EmailNotifications/notificationEmail", "ops@example.test" },
    { "EmailNotifications/isMinCriticalTemperature", "true" },
    { "EmailNotifications/isMinNonCriticalTemperature", "true" },
    { "EmailNotifications/isMaxNonCriticalTemperature", "true" },
    { "EmailNotifications/isMaxCriticalTemperature", "true" }, { "EmailNotifications/isMinCriticalHumidity", "true" },
    { "EmailNotifications/isMinNonCriticalHumidity", "true" },
    { "EmailNotifications/isMaxNonCriticalHumidity", "true" }, { "EmailNotifications/isMaxCriticalHumidity", "true" },
    { "EmailNotifications/isSensorLost", "true" }, { "EmailNotifications/isBatteryLow", "true" } };

// Answers the dialog's boxes and choosers and keeps what it was shown.
class ScriptedPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    void critical(const QString& title, const QString& text) override { boxes << title + '|' + text; }
    void warning(const QString& title, const QString& text) override { boxes << title + '|' + text; }
    void information(const QString& title, const QString& text) override { boxes << title + '|' + text; }
    QString chooseFolder(QWidget*, const QString& caption, const QString&) override
    {
        boxes << caption;
        return answer;
    }
    QColor chooseColor(QWidget*, const QColor&, const QString& title) override
    {
        boxes << title;
        return QColor(answer);
    }
    QStringList boxes;
    QString answer;
};

class CountingState : public AppState
{
public:
    int saves = 0;

protected:
    void configSaved() override { ++saves; }
};

// The configuration file as a fresh reader sees it, once the program's store has written it.
Keys savedKeys(AppState& state)
{
    state.saveConfig();
    state.configSettings->sync();
    QSettings file(QStringLiteral("data/config.ini"), QSettings::IniFormat);
    Keys keys;
    for (const QString& key : file.allKeys())
        keys.insert(key, file.value(key).toString());
    return keys;
}

// The keys whose saved value is not the expected one, as "key: saved != expected".
QString mismatches(const Keys& saved, const Keys& expected)
{
    Keys all = saved;
    all.insert(expected);
    QStringList out;
    for (const QString& key : all.keys()) {
        if (saved.value(key, "(none)") != expected.value(key, "(none)"))
            out << key + ": " + saved.value(key, "(none)") + " != " + expected.value(key, "(none)");
    }
    return out.join("; ");
}

// Types a value into a widget the way a user would; buttons open the prompt's choosers.
void enter(DialogSettings& dialog, ScriptedPrompt& prompt, const QString& object, const QString& value)
{
    QWidget* w = dialog.findChild<QWidget*>(object);
    QVERIFY2(w, qPrintable(object));
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(value);
    } else if (auto* s = qobject_cast<QDoubleSpinBox*>(w)) {
        s->setValue(value.toDouble());
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setValue(value.toInt());
    } else if (auto* t = qobject_cast<QTimeEdit*>(w)) {
        t->setTime(QTime::fromString(value, QStringLiteral("HH:mm")));
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        c->setCurrentIndex(value.toInt());
    } else if (auto* b = qobject_cast<QCheckBox*>(w)) {
        if (b->isChecked() != (value == QLatin1String("true")))
            b->click();
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        prompt.answer = value;
        b->click();
        prompt.boxes.removeFirst(); // the chooser's own title
    }
}

} // namespace

class TestDialogSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompt prompt;
    std::unique_ptr<CountingState> state;

    // A fresh configuration from kConfig, loaded as at start-up.
    void loadConfig()
    {
        state.reset();
        QFile::remove(QStringLiteral("data/config.ini"));
        {
            QSettings file(QStringLiteral("data/config.ini"), QSettings::IniFormat);
            for (auto it = kConfig.begin(); it != kConfig.end(); ++it)
                file.setValue(it.key(), it.value());
        }
        state = std::make_unique<CountingState>();
        state->loadConfig();
        prompt.boxes.clear();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QDir::setCurrent(dir.path());
        QVERIFY(QDir().mkdir(QStringLiteral("data")));
        setPrompt(&prompt);
    }

    void cleanupTestCase() { setPrompt(nullptr); }

    // One widget changed, the window closed and saved as at exit, then applied: the key is
    // stored at once or only by apply, every other key stays as it was (the odd values that no
    // widget can show included), apply saves once, refreshes once and says what it must.
    void everyKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<bool>("atOnce");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("box");
        auto row = [](const char* key, const char* widget, const char* entered, bool atOnce, const char* stored,
                       const QString& box = QString()) {
            QTest::newRow(qPrintable(QString::fromLatin1(key) + ' ' + QString::fromUtf8(entered)))
                << key << widget << entered << atOnce << stored << box;
        };
        row("", "", "", false, "");
        row("Modem/PortName", "linePort", "com7", false, "com7", kComNotice);
        row("Modem/NetworkPort", "lineNetworkPort", "7001", false, "7001", kNetNotice);
        row("Modem/NetworkPort", "lineNetworkPort", "70000", false, "7000", kRefused);
        row("Modem/NetworkPort", "lineNetworkPort", "", false, "7000", kRefused);
        row("DataWarning/TemperatureMinCritical", "spinMinCritTemp", "-55", false, "-40");
        row("DataWarning/TemperatureMinWarning", "spinMinNecritTemp", "1.5", false, "1.5");
        row("DataWarning/TemperatureMaxWarning", "spinMaxNecritTemp", "2.5", false, "2.5");
        row("DataWarning/TemperatureMaxCritical", "spinMaxCritTemp", "120", false, "100");
        row("DataWarning/WetnessMinCritical", "spinMinCritWetn", "-3", false, "0");
        row("DataWarning/WetnessMinWarning", "spinMinNecritWetn", "4.5", false, "4.5");
        row("DataWarning/WetnessMaxWarning", "spinMaxNecritWetn", "5.5", false, "5.5");
        row("DataWarning/WetnessMaxCritical", "spinMaxCritWetn", "6.5", false, "6.5");
        row("Color/minimalCriticalHumidity", "colorPick_minCritHum", "#A1B2C3", true, "#a1b2c3");
        row("Color/maximalCriticalHumidity", "colorPick_maxCritHum", "#a1b2c4", true, "#a1b2c4");
        row("Color/minimalCriticalTemperature", "colorPick_minCritTemp", "#a1b2c5", true, "#a1b2c5");
        row("Color/maximalCriticalTemperature", "colorPick_maxCritTemp", "#a1b2c6", true, "#a1b2c6");
        row("Color/minimalNonCriticalHumidity", "colorPick_minNonCritHum", "#a1b2c7", true, "#a1b2c7");
        row("Color/maximalNonCriticalHumidity", "colorPick_maxNonCritHum", "#a1b2c8", true, "#a1b2c8");
        row("Color/minimalNonCriticalTemperature", "colorPick_minNonCritTemp", "#a1b2c9", true, "#a1b2c9");
        row("Color/maximalNonCriticalTemperature", "colorPick_maxNonCritTemp", "#a1b2ca", true, "#a1b2ca");
        row("Color/font", "colorPick_font", "#a1b2cb", true, "#a1b2cb");
        row("Color/line", "colorPick_line", "#a1b2cc", true, "#a1b2cc");
        row("Color/node", "colorPick_node", "#a1b2cd", true, "#a1b2cd");
        row("Color/node", "colorPick_node", "", true, "#0b0b0b"); // colour dialog cancelled
        row("Other/BreakInterval", "timeEditBreakInterval", "01:30", true, "5400");
        row("Other/MaxTableRows", "spinMaxTableRows", "250", true, "250");
        row("Other/DateTimeStyle", "comboDateTimeStyle", "2", true, "2");
        row("Other/DaysSave", "spinDaysSave", "90", true, "90");
        row("Other/HideStart", "hideStart", "false", true, "false");
        row("Other/TrayMessages", "trayMessages", "false", true, "false");
        row("Other/ViewVoltage", "viewVoltage", "false", true, "false");
        row("DB/DBType", "comboBoxBaseType", "1", false, "1");
        row("DB/Hostname", "lineEdit_Hostname", "other\\host", false, "other\\host");
        row("DB/Database", "lineEdit_Database", "base", false, "base");
        row("DB/Username", "lineEdit_Username", "someone", false, "someone");
        row("DB/Password", "lineEdit_Password", "x,y", false, "x,y");
        row("DB/Port", "lineEdit_Port", "5432", false, "5432");
        row("Other/ExportDBF", "checkBoxIsExportDBF", "false", false, "false");
        row("Other/IntervalExportDBF", "spinBoxIntervalExportDBF", "2000", false, "1440");
        row("Other/PathExportDBF", "pushButtonSelectPathExportDBF", "/srv/dbf, new", false, "/srv/dbf, new");
        row("Other/PathExportDBF", "pushButtonSelectPathExportDBF", "", false, "C:/Данные, отчёты;2\\dbf");
        row("EmailNotifications/isActive", "checkBoxEmailNotifications", "false", true, "false");
        row("EmailNotifications/serverSMTP", "lineEditServer", "mx.test", false, "mx.test");
        row("EmailNotifications/serverPort", "lineEditPort", "465", false, "465");
        row("EmailNotifications/serverLogin", "lineEditLogin", "me", false, "me");
        row("EmailNotifications/serverPassword", "lineEditPassword", "pw", false, "pw");
        row("EmailNotifications/notificationEmail", "lineEditEmail", "a@b.test", false, "a@b.test");
        const char* const events[][2] = { { "isMinCriticalTemperature", "checkBoxMinCritTemp" },
            { "isMinNonCriticalTemperature", "checkBoxMinNonCritTemp" },
            { "isMaxNonCriticalTemperature", "checkBoxMaxNonCritTemp" },
            { "isMaxCriticalTemperature", "checkBoxMaxCritTemp" },
            { "isMinCriticalHumidity", "checkBoxMinCritHumidity" },
            { "isMinNonCriticalHumidity", "checkBoxMinNonCritHumidity" },
            { "isMaxNonCriticalHumidity", "checkBoxMaxNonCritHumidity" },
            { "isMaxCriticalHumidity", "checkBoxMaxCritHumidity" }, { "isBatteryLow", "checkBoxBatteryLow" },
            { "isSensorLost", "checkBoxLostSensor" } };
        for (const auto& e : events)
            row(qPrintable(QStringLiteral("EmailNotifications/") + e[0]), e[1], "false", true, "false");
    }

    void everyKey()
    {
        QFETCH(QString, key);
        QFETCH(QString, widget);
        QFETCH(QString, entered);
        QFETCH(bool, atOnce);
        QFETCH(QString, stored);
        QFETCH(QString, box);
        loadConfig();
        DialogSettings dialog;
        QSignalSpy refresh(&dialog, &DialogSettings::signalMainWindowRefresh);
        dialog.show();
        if (!key.isEmpty())
            enter(dialog, prompt, widget, entered);
        dialog.hide();

        Keys expected = kConfig;
        if (atOnce)
            expected[key] = stored;
        QCOMPARE(mismatches(savedKeys(*state), expected), QString());

        state->saves = 0;
        dialog.show();
        if (!key.isEmpty() && !atOnce)
            enter(dialog, prompt, widget, entered);
        dialog.ui->pushAcceptNotifications->click();
        QCOMPARE(prompt.boxes, box.isEmpty() ? QStringList() : QStringList { box });
        QCOMPARE(state->saves, 1);
        // Colours and the voltage choice are shown at once.
        QCOMPARE(refresh.count(), (widget.startsWith("colorPick") && !entered.isEmpty()) || widget == "viewVoltage" ? 2 : 1);
        if (!key.isEmpty())
            expected[key] = stored;
        QCOMPARE(mismatches(savedKeys(*state), expected), QString());
    }

    // Each tab's defaults button: the values it writes at once, then what apply stores.
    void defaults_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("atOnce");
        QTest::addColumn<QStringList>("applied");
        QTest::newRow("Главное") << "pushReset" << QStringList()
                                 << QStringList { "Modem/NetworkPort=6238", "DataWarning/TemperatureMinCritical=5",
                                        "DataWarning/TemperatureMinWarning=10", "DataWarning/TemperatureMaxWarning=25",
                                        "DataWarning/TemperatureMaxCritical=30", "DataWarning/WetnessMinCritical=5",
                                        "DataWarning/WetnessMinWarning=10", "DataWarning/WetnessMaxWarning=90",
                                        "DataWarning/WetnessMaxCritical=98", "Color/minimalCriticalHumidity=#ff3232",
                                        "Color/maximalCriticalHumidity=#3232ff",
                                        "Color/minimalCriticalTemperature=#3232ff",
                                        "Color/maximalCriticalTemperature=#ff3232",
                                        "Color/minimalNonCriticalHumidity=#f0be0a",
                                        "Color/maximalNonCriticalHumidity=#6eaad2",
                                        "Color/minimalNonCriticalTemperature=#6eaad2",
                                        "Color/maximalNonCriticalTemperature=#f0be0a", "Color/font=#ffffff",
                                        "Color/line=#000000", "Color/node=#ff0000" };
        QTest::newRow("Другое") << "pushDefault"
                                << QStringList { "Other/BreakInterval=120", "Other/MaxTableRows=200",
                                       "Other/DateTimeStyle=1", "Other/DaysSave=730", "Other/HideStart=false",
                                       "Other/TrayMessages=false", "Other/ViewVoltage=false" }
                                << QStringList { "DB/DBType=0", "DB/Hostname=%host\\SQLEXPRESS",
                                       "DB/Username=", "DB/Password=", "DB/Database=Kestrum_ravok_1", "DB/Port=1433",
                                       "Other/ExportDBF=false", "Other/IntervalExportDBF=5",
                                       "Other/PathExportDBF=%cwd" };
        QStringList mail { "EmailNotifications/isActive=false",
            "EmailNotifications/serverSMTP=", "EmailNotifications/serverPort=25", "EmailNotifications/serverLogin=",
            "EmailNotifications/serverPassword=", "EmailNotifications/notificationEmail=" };
        for (const QString& key : kConfig.keys()) {
            if (key.startsWith(QLatin1String("EmailNotifications/is"))
                && key != QLatin1String("EmailNotifications/isActive"))
                mail << key + QLatin1String("=false");
        }
        QTest::newRow("Уведомления") << "pushResetNotifications" << QStringList() << mail;
    }

    void defaults()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, atOnce);
        QFETCH(QStringList, applied);
        loadConfig();
        DialogSettings dialog;
        dialog.show();
        QVERIFY(dialog.findChild<QPushButton*>(button));
        dialog.findChild<QPushButton*>(button)->click();
        Keys expected = kConfig;
        auto set = [&expected](const QStringList& pairs) {
            for (QString pair : pairs) {
                pair.replace(QLatin1String("%host"), QHostInfo::localHostName())
                    .replace(QLatin1String("%cwd"), QDir::currentPath());
                const int eq = pair.indexOf('=');
                expected[pair.left(eq)] = pair.mid(eq + 1);
            }
        };
        set(atOnce);
        QCOMPARE(mismatches(savedKeys(*state), expected), QString());
        dialog.ui->pushAccept->click();
        set(applied);
        QCOMPARE(mismatches(savedKeys(*state), expected), QString());
        QCOMPARE(prompt.boxes, button == QLatin1String("pushReset") ? QStringList { kNetNotice } : QStringList());
    }

    // The settings typed in the tab go to the notification thread before the letter request;
    // the letter reaches the server and the configuration is left as it was.
    void testLetter()
    {
        if (!MailAccount::builtIn().host.isEmpty())
            QSKIP("this build sends alarms through its built-in relay");
        TestCerts certs;
        QVERIFY2(certs.create(dir.path()), qPrintable(certs.error));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("letters")));
        AiosmtpdPeer server;
        const QString login = QStringLiteral("alarm@ostrivel.test");
        QVERIFY2(server.start(certs, dir.filePath(QStringLiteral("letters")), login, QStringLiteral("s3cret")),
            qPrintable(server.error));

        loadConfig();
        state->serverSMTP = QStringLiteral("localhost");
        state->serverPort = server.port;
        state->serverLogin = login;
        state->serverPassword = QStringLiteral("s3cret");
        auto* module = new Notifications(nullptr);
        module->setIntervals(150, 5000);
        module->setSslConfiguration(certs.clientConfiguration());
        module->moveToThread(module);
        module->start();

        DialogSettings dialog;
        QStringList order;
        connect(&dialog, &DialogSettings::signalSetNotificationsSettings, module, &Notifications::slotSetEmailSettings);
        connect(&dialog, &DialogSettings::signalSendTestLetter, module, &Notifications::slotSendTestLetter);
        connect(&dialog, &DialogSettings::signalSetNotificationsSettings,
            [&order](QString server, int port, QString login, QString password, QString address) {
                order << QStringLiteral("%1 %2 %3 %4 %5").arg(server).arg(port).arg(login, password, address);
            });
        connect(&dialog, &DialogSettings::signalSendTestLetter, [&order] { order << QStringLiteral("letter"); });
        dialog.show();
        dialog.ui->tabWidget->setCurrentIndex(2);
        dialog.ui->lineEditEmail->setText(QStringLiteral("duty@ostrivel.test"));
        dialog.ui->pushButtonSendTestLetter->click();

        QCOMPARE(order,
            QStringList({ QStringLiteral("localhost %1 %2 s3cret duty@ostrivel.test").arg(server.port).arg(login),
                QStringLiteral("letter") }));
        QCOMPARE(prompt.boxes,
            QStringList { QStringLiteral("Информация|Тестовое письмо было добавлено в очередь на "
                                         "отправку.\r\nБудет отправлено в течение 30 сек.") });
        const QJsonObject letter = server.waitForLetter(0, 20000);
        QCOMPARE(
            letter.value(QStringLiteral("rcptTos")).toArray(), QJsonArray { QStringLiteral("duty@ostrivel.test") });
        const QJsonObject part = letter.value(QStringLiteral("parts")).toArray().at(0).toObject();
        const QString body = QString::fromUtf8(QByteArray::fromBase64(part.value("payload").toString().toLatin1()));
        QCOMPARE(body,
            QStringLiteral("В датчике \"\" [EUI64=, Помещение=\"\"], сработало событие: тестовое письмо с целью "
                           "проверки настроек \r\n\r\n"));
        QCOMPARE(state->notificationEmail, kConfig.value(QStringLiteral("EmailNotifications/notificationEmail")));

        QMetaObject::invokeMethod(
            module, [module] { module->slotStopModule(); }, Qt::QueuedConnection);
        QVERIFY(module->wait(10000));
        delete module;
    }
};

QTEST_MAIN(TestDialogSettings)
#include "tst_dialogsettings.moc"
