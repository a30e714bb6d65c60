// Reading and writing data/config.ini: the default file, loader defaults, and values that the
// INI store would mangle if written carelessly.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include "app/appstate.h"
#include "app/configfile.h"

namespace {

class CountingState : public AppState
{
public:
    int saves = 0;

protected:
    void configSaved() override { ++saves; }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

const QString kPurgeWaits = QStringLiteral(
    "Срок хранения измерений (Other/DaysSave) не прочитан из файла \"data/config.ini\", поэтому старые измерения "
    "не удаляются, пока настройки не будут сохранены в окне настроек.");

}  // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* dir = nullptr;
    QString previousDir;

    // Each case runs in a working directory of its own, with an existing "data" folder,
    // whose name holds the characters an INI file treats specially.
    void enter(const QString& name)
    {
        const QString path = dir->path() + QLatin1Char('/') + name;
        QVERIFY(QDir().mkpath(path + QStringLiteral("/data")));
        QVERIFY(QDir::setCurrent(path));
    }

private slots:
    void init()
    {
        previousDir = QDir::currentPath();
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
    }
    void cleanup()
    {
        QDir::setCurrent(previousDir);
        delete dir;
    }

    void defaultFile_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "plain";
        QTest::newRow("comma, semicolon") << "a,b;c";
        QTest::newRow("cyrillic") << QStringLiteral("Отчёты");
        QTest::newRow("backslash and quote") << "x\\y\"z";
        QTest::newRow("leading at, blanks") << "@at =eq ";
    }
    void defaultFile()
    {
        QFETCH(QString, folder);
        enter(folder);
        QVERIFY(createDefaultConfig());

        QByteArray expected = readAll(QStringLiteral(OSTRIVEL_TEST_DATA "/default-config.ini"));
        QVERIFY(!expected.isEmpty());
        const QByteArray bytes = readAll(QStringLiteral("data/config.ini"));
        if (folder == QLatin1String("plain")) {
            // A plain folder is written as it is.
            expected.replace("@CWD@", QDir::currentPath().toLatin1());
            QCOMPARE(bytes, expected);
        }

        // Every folder reads back unchanged, and so does the backslash of the host name.
        AppState state;
        state.loadConfig();
        QCOMPARE(state.PathExportDBF, QDir::currentPath());
        QCOMPARE(state.Hostname, QStringLiteral("localhost\\SQLEXPRESS"));
        QCOMPARE(int(state.NetworkPort), 6238);
        QCOMPARE(state.DaysSave, 365);
        QCOMPARE(state.PortName, QStringLiteral("COM1"));
        QCOMPARE(state.maximalCriticalHumidity, QColor(0x32, 0x32, 0xff));
        state.configSettings->sync();
    }

    void defaultFileCannotBeOpened()
    {
        enter(QStringLiteral("blocked"));
        // A dangling link into a missing folder cannot be opened, even by root.
        QVERIFY(QFile::link(QStringLiteral("missing/config.ini"), QStringLiteral("data/config.ini")));
        QVERIFY(!createDefaultConfig());
    }

    void loaderDefaults_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("networkPort");
        QTest::addColumn<int>("daysSave");
        QTest::addColumn<int>("breakInterval");
        QTest::addColumn<double>("tMinCritical");
        QTest::addColumn<QString>("minimalCriticalTemperature");
        QTest::addColumn<bool>("purgeWaits");
        QTest::newRow("empty file") << QByteArray() << 6238 << 730 << 120 << 5.0 << "#3232ff" << true;
        QTest::newRow("no modem section")
            << QByteArray("[Other]\nDaysSave=10\n") << 6238 << 10 << 120 << 5.0 << "#3232ff" << false;
        QTest::newRow("DaysSave 0") << QByteArray("[Other]\nDaysSave=0\n") << 6238 << 0 << 120 << 5.0 << "#3232ff"
                                    << false;
        QTest::newRow("no DaysSave") << QByteArray("[Other]\nBreakInterval=120\n") << 6238 << 730 << 120 << 5.0
                                     << "#3232ff" << true;
    }
    void loaderDefaults()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, networkPort);
        QFETCH(int, daysSave);
        QFETCH(int, breakInterval);
        QFETCH(double, tMinCritical);
        QFETCH(QString, minimalCriticalTemperature);
        QFETCH(bool, purgeWaits);
        enter(QStringLiteral("defaults"));
        writeFile(QStringLiteral("data/config.ini"), file);
        CountingState state;
        QVERIFY(state.loadConfig());
        QCOMPARE(int(state.NetworkPort), networkPort);
        QCOMPARE(state.DaysSave, daysSave);
        QCOMPARE(state.BreakInterval, breakInterval);
        QCOMPARE(state.TemperatureMinCritical, tMinCritical);
        QCOMPARE(state.IntervalExportDBF, 5);
        QCOMPARE(state.Port, 1433);
        QCOMPARE(state.serverPort, 25);
        QCOMPARE(state.PathExportDBF, QDir::currentPath());
        QCOMPARE(state.Hostname, QStringLiteral("localhost\\SQLEXPRESS"));

        state.saveConfig();
        QCOMPARE(state.saves, 1);
        state.configSettings->sync();
        QSettings written(QStringLiteral("data/config.ini"), QSettings::IniFormat);
        QCOMPARE(written.value("Color/minimalCriticalTemperature").toString(), minimalCriticalTemperature);
        QCOMPARE(written.value("Modem/NetworkPort").toInt(), networkPort);
        QVERIFY(state.configFallbacks.isEmpty());
        // A number of days the file does not hold purges nothing and is not written as if it did.
        QCOMPARE(state.purgeWaits, purgeWaits);
        QCOMPARE(written.contains("Other/DaysSave"), !purgeWaits);
        QCOMPARE(state.settingsWarning(), purgeWaits ? kPurgeWaits : QString());
        state.saveConfig(true);
        state.configSettings->sync();
        QVERIFY(!state.purgeWaits);
        QCOMPARE(QSettings(QStringLiteral("data/config.ini"), QSettings::IniFormat).value("Other/DaysSave").toInt(),
            daysSave);
    }

    // A value that is there but cannot mean anything for its key gives the key's default
    // (for NetworkPort and DaysSave the default file's), is named in the warning with the
    // value used, and the default is what is written back; a file whose values all mean
    // something is left as it was.
    void meaninglessValueFallsBack_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("used"); // empty: the value is taken as it stands
        const auto row = [](const char* key, const char* value, const char* used) {
            QTest::addRow("%s=%s", key, value)
                << QString::fromLatin1(key) << QByteArray(value) << QString::fromLatin1(used);
        };
        row("Modem/NetworkPort", "x", "6238");
        row("Modem/NetworkPort", "70000", "6238");
        row("Modem/NetworkPort", "-1", "6238");
        row("Modem/NetworkPort", "65535", "");
        row("DataWarning/TemperatureMinCritical", "NaN", "5");
        row("DataWarning/TemperatureMinCritical", "-inf", "5");
        row("DataWarning/TemperatureMaxCritical", "1e999", "30");
        row("DataWarning/TemperatureMaxCritical", "12 C", "30");
        row("DataWarning/TemperatureMinWarning", "-41", "10");
        row("DataWarning/TemperatureMinWarning", "-40", "");
        row("DataWarning/WetnessMaxCritical", "100.5", "99");
        row("DataWarning/WetnessMinCritical", "0", "");
        row("DataWarning/BatteryMinWarning", "-1", "300");
        row("DataWarning/BatteryMinCritical", "nan", "100");
        row("Other/BreakInterval", "-100", "120");
        row("Other/BreakInterval", "0", "120");
        row("Other/BreakInterval", "abc", "120");
        row("Other/BreakInterval", "86400", "");
        row("Other/MaxTableRows", "-1", "500");
        row("Other/MaxTableRows", "20000", "");
        row("Other/MaxTableRows", "1000001", "500");
        row("Other/DateTimeStyle", "4", "0");
        row("Other/DateTimeStyle", "3", "");
        row("Other/DaysSave", "365 days", "365");
        row("Other/DaysSave", "", "365");
        row("Other/DaysSave", "-3", "365");
        row("Other/IntervalExportDBF", "-5", "5");
        row("Other/IntervalExportDBF", "1441", "5");
        row("DB/Port", "0", "1433");
        row("DB/DBType", "7", "0");
        row("DB/DBType", "-1", "0");
        row("DB/DBType", "2", "");
        row("EmailNotifications/serverPort", "99999999999", "25");
        row("EmailNotifications/serverPort", "1,2", "25");
        row("EmailNotifications/serverPort", "465", "");
        row("Color/node", "nocolour", "#ff0000");
        row("Color/line", "#12abef", "");
        row("Modem/NetworkPort", "0", "6238");
        row("Other/ViewVoltage", "red", "false");
        row("EmailNotifications/isActive", "65536", "false");
        row("Other/HideStart", "1,5", "false");
        row("Other/ExportDBF", "1", "");
        row("DB/Password", "se,cret", "");
        row("EmailNotifications/notificationEmail", "a@x, b@y", "");
        row("DB/Password", "@Variant(\\0\\0\\0\\x7f)", ""); // text, never decoded
        row("Other/DaysSave", "@Variant(x)", "365");
    }
    void meaninglessValueFallsBack()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QFETCH(QString, used);
        // The file as the program writes it, with the row's value in place of the key's. The store
        // keeps what it read of a file name while its size and time stay: each file has its own.
        enter(QStringLiteral("default"));
        QVERIFY(createDefaultConfig());
        AppState first;
        first.loadConfig();
        first.saveConfig();
        first.configSettings->sync();
        const QByteArray saved = readAll(QStringLiteral("data/config.ini"));
        enter(QStringLiteral("fallback"));
        const QByteArray name = key.section(QLatin1Char('/'), 1).toLatin1();
        const int at = saved.indexOf("\n" + name + "=") + 1;
        QVERIFY(at > 0);
        const QByteArray file = QByteArray(saved).replace(at, saved.indexOf('\n', at) - at, name + "=" + value);
        writeFile(QStringLiteral("data/config.ini"), file);

        AppState state;
        QVERIFY(state.loadConfig());
        QVERIFY(!state.configUnread);
        // Days the user did not write are neither purged by nor written over the user's text.
        const bool waits = !used.isEmpty() && key == QLatin1String("Other/DaysSave");
        QCOMPARE(state.purgeWaits, waits);
        state.saveConfig();
        state.configSettings->sync();
        QCOMPARE(readAll(QStringLiteral("data/config.ini")), used.isEmpty() || waits ? file : saved);
        QCOMPARE(state.settingsWarning().section(QLatin1Char('\n'), 1),
            used.isEmpty() ? QString()
                           : QStringLiteral("%1 = \"%2\": используется %3").arg(key, QString(value), used)
                    + (waits ? QStringLiteral("\n\n") + kPurgeWaits : QString()));
    }

    // Every replaced value is named in the one warning, in the order of the file's keys.
    void severalFallbacksInOneWarning()
    {
        enter(QStringLiteral("several"));
        writeFile(QStringLiteral("data/config.ini"),
            "[Modem]\nNetworkPort=x\n[DataWarning]\nTemperatureMinCritical=NaN\n[DB]\nDBType=7\n[Other]\n"
            "DaysSave=30\nPathExportDBF="
                + QByteArray(60, 'p') + "\nMaxTableRows=" + QByteArray(60, '9') + "\n");
        AppState state;
        state.loadConfig();
        QCOMPARE(state.settingsWarning(),
            QStringLiteral("Значения некоторых настроек в файле \"data/config.ini\" не имеют смысла, вместо них "
                           "используются значения по умолчанию:\n"
                           "Modem/NetworkPort = \"x\": используется 6238\n"
                           "DataWarning/TemperatureMinCritical = \"NaN\": используется 5\n"
                           "Other/MaxTableRows = \"%1…\": используется 500\n"
                           "DB/DBType = \"7\": используется 0")
                .arg(QString(40, QLatin1Char('9'))));
        QCOMPARE(int(state.NetworkPort), 6238);
        QCOMPARE(state.TemperatureMinCritical, 5.0);
        QCOMPARE(state.DBType, 0);
        QCOMPARE(state.PathExportDBF, QString(60, QLatin1Char('p')));
    }

    // A view file that gave nothing the window knows is copied aside before the window's
    // state replaces it; a readable one is used as it is.
    void unreadableViewFileIsKept_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("unread");
        QTest::newRow("garbage") << QByteArray("not a view\n=== at all") << true;
        QTest::newRow("binary") << QByteArray::fromHex("00ff10e2809c5b0a3d00fe") << true;
        QTest::newRow("window state") << QByteArray("[MainWindow]\nTabIndex=2\n") << false;
        QTest::newRow("report dialog only") << QByteArray("[DialogReport]\nReportType=1\n") << false;
        QTest::newRow("missing") << QByteArray() << false;
    }
    void unreadableViewFileIsKept()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, unread);
        enter(QStringLiteral("view"));
        if (!bytes.isEmpty())
            writeFile(QStringLiteral("data/view.conf"), bytes);
        AppState state;
        state.openViewSettings();
        QVERIFY(state.viewSettings);
        QCOMPARE(state.viewUnread, unread);
        const QStringList copies = QDir(QStringLiteral("data")).entryList({ QStringLiteral("view.conf.bad-*") });
        QCOMPARE(copies.size(), unread ? 1 : 0);
        if (!unread) {
            QCOMPARE(state.settingsWarning(), QString());
            QCOMPARE(readAll(QStringLiteral("data/view.conf")), bytes);
            return;
        }
        QCOMPARE(readAll(QStringLiteral("data/") + copies.first()), bytes);
        QCOMPARE(state.settingsWarning(),
            QStringLiteral("Файл \"data/view.conf\" не удалось прочитать, вид окна восстановлен по умолчанию.\n"
                           "Копия прежнего файла сохранена как \"data/%1\".")
                .arg(copies.first()));
        // The window's state now goes over the file without losing the old bytes.
        state.viewSettings->setValue(QStringLiteral("MainWindow/TabIndex"), 1);
        state.viewSettings->sync();
        QCOMPARE(readAll(QStringLiteral("data/") + copies.first()), bytes);
    }

    // A file the store cannot make sense of is copied aside before defaults replace it.
    void unreadableFileIsKept_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("unread");
        QTest::newRow("garbage") << QByteArray("not a configuration\n=== at all") << true;
        QTest::newRow("binary") << QByteArray::fromHex("00ff10e2809c5b0a3d00fe") << true;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("one known key") << QByteArray("[Other]\nDaysSave=10\n") << false;
        QTest::newRow("text with a zero character")
            << QByteArray("[Other]\nDaysSave=10\nPathExportDBF=@String(a\\0b), @@Variant(\n") << false;
    }
    void unreadableFileIsKept()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, unread);
        enter(QStringLiteral("unreadable"));
        writeFile(QStringLiteral("data/config.ini"), bytes);
        AppState state;
        state.loadConfig();
        QCOMPARE(state.configUnread, unread);
        const QStringList copies = QDir(QStringLiteral("data")).entryList({ QStringLiteral("config.ini.bad-*") });
        QCOMPARE(copies.size(), unread ? 1 : 0);
        if (unread)
            QCOMPARE(readAll(QStringLiteral("data/") + copies.first()), bytes);
    }

    // Files as people write them, read by the configuration's format and by the INI store's own
    // reader, looked up as the store looks up on Windows (whatever the case). Each value is the
    // store's unless the row names it as read otherwise on purpose; `differs` gives ours then (an
    // invalid value: the key is not read), and the store must really read it differently.
    void handWrittenFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QVariantMap>("differs");
        QTest::addColumn<QList<int>>("skipped");
        QTest::addColumn<QStringList>("windows1251");
        QTest::addColumn<int>("daysSave");
        const QVariant absent;
        const auto row = [](const char* name, const QByteArray& file, const QVariantMap& differs,
                             const QList<int>& skipped = {}, int daysSave = 3650, const QStringList& cp = {}) {
            QTest::newRow(name) << file << differs << skipped << cp << daysSave;
        };
        row("Notepad: CRLF, byte-order mark",
            "\xef\xbb\xbf[Modem]\r\nPortName = COM3\r\n\r\n[Other]\r\nDaysSave=3650\r\n", {});
        row("'#' comment", "# kept ten years, as the law asks\n[Other]\nDaysSave=3650\n", {}, { 1 });
        row("'#' line with '='", "[Other]\n#DaysSave=10\nDaysSave=3650\n", { { "Other/#DaysSave", absent } }, { 2 });
        row("names in another case", "[modem]\nportname=/dev/ttyUSB0\n[db]\ndbtype=1\n[OTHER]\ndaysSave=3650\n", {});
        row("keys outside sections", "DaysSave=10\n[General]\nPortName=COM3\n[Other]\nDaysSave=3650\n",
            { { "DaysSave", absent }, { "PortName", absent } }, { 1, 3 });
        row("stray line", "[Other]\nDaysSave=3650\nthis line is no setting\nBreakInterval=60\n", {}, { 3 });
        row("key name with a blank", "[Other]\nDays Save=10\nDaysSave=3650\n", { { "Other/Days Save", absent } },
            { 2 });
        row("section without its bracket", "[Other\nDaysSave=3650\n", {});
        row("one key twice", "[Other]\nDaysSave=10\n[Other]\nDaysSave=3650\n", {});
        row("inline comments and blanks",
            "[Modem]\nPortName = COM3 ; the modem\n\tNetworkPort=6300  \n  [ Other ]  \nDaysSave = 3650\n; "
            "DaysSave=1\n",
            {});
        row("escapes as the store writes them",
            "[DB]\nHostname=localhost\\\\SQLEXPRESS\nPassword=\"a, b;c \\\"q\\\"\"\nUsername=\\x43f\\x430\n", {}, {},
            730);
        row("backslashes typed by hand",
            "[DB]\nHostname=DBSRV\\SQLEXPRESS\nUsername=DOMAIN\\ivan\nPassword=a\\;b\\x\\9\n",
            { { "DB/Hostname", "DBSRV\\SQLEXPRESS" }, { "DB/Username", "DOMAIN\\ivan" },
                { "DB/Password", "a\\;b\\x\\9" } },
            {}, 730);
        row("path ending in a backslash", "[Other]\nPathExportDBF=C:\\Export\\\n[DB]\nDBType=1\n",
            { { "Other/PathExportDBF", "C:\\Export\\" }, { "DB/DBType", "1" }, { "Other/DBType", absent } }, {}, 730);
        row("lone quotes", "[DB]\nUsername=o\"brien\nPassword=\"unfinished\n",
            { { "DB/Username", "o\"brien" }, { "DB/Password", "\"unfinished" } }, {}, 730);
        row("quotes inside a value", "[DB]\nPassword=a\"b\"c\n", { { "DB/Password", "a\"b\"c" } }, {}, 730);
        row("comma", "[EmailNotifications]\nnotificationEmail=a@x.ru, b@y.ru\n",
            { { "EmailNotifications/notificationEmail", "a@x.ru, b@y.ru" } }, {}, 730);
        row("UTF-8", "[DB]\nPassword=Пароль\n", { { "DB/Password", "Пароль" } }, {}, 730);
        row("Windows-1251",
            "[DB]\nPassword=\xcf\xe0\xf0\xee\xeb\xfc\n[Other]\nPathExportDBF=D:/\xce\xf2\xf7\xb8\xf2\xfb\n",
            { { "DB/Password", "Пароль" }, { "Other/PathExportDBF", "D:/Отчёты" } }, {}, 730,
            { "DB/Password", "Other/PathExportDBF" });
        const QString unicode = QStringLiteral("[Other]\r\nDaysSave=3650\r\n");
        QByteArray utf16("\xff\xfe");
        utf16 += QByteArray(reinterpret_cast<const char*>(unicode.utf16()), unicode.size() * 2);
        row("Notepad's Unicode (UTF-16)", utf16, { { "Other/DaysSave", "3650" } });
    }
    void handWrittenFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QVariantMap, differs);
        QFETCH(QList<int>, skipped);
        QFETCH(QStringList, windows1251);
        QFETCH(int, daysSave);
        enter(QStringLiteral("hand"));
        // Two names: the store keeps what it read of a name, whatever the format.
        writeFile(QStringLiteral("store.ini"), file);
        writeFile(QStringLiteral("data/config.ini"), file);
        // A name with zero bytes (a UTF-16 file read as bytes) is no setting of anyone's.
        const auto byKey = [](const QSettings& settings) {
            QMap<QString, QVariant> values;
            for (const QString& key : settings.allKeys())
                if (!key.contains(QChar(0)))
                    values.insert(key.toLower(), settings.value(key));
            return values;
        };
        const QMap<QString, QVariant> store = byKey(QSettings(QStringLiteral("store.ini"), QSettings::IniFormat));
        const QSettings format(QStringLiteral("data/config.ini"), configFormat());
        const QMap<QString, QVariant> ours = byKey(format);
        QMap<QString, QVariant> expected = store;
        for (auto i = differs.cbegin(); i != differs.cend(); ++i) {
            QVERIFY2(store.value(i.key().toLower()) != i.value(), qPrintable(i.key()));
            expected.insert(i.key().toLower(), i.value());
        }
        for (auto i = expected.begin(); i != expected.end();)
            i = i.value().isValid() ? std::next(i) : expected.erase(i);
        const auto listing = [](const QMap<QString, QVariant>& values) {
            QStringList lines;
            for (auto i = values.cbegin(); i != values.cend(); ++i)
                lines << i.key() + QLatin1Char('=') + i.value().toStringList().join(QLatin1Char('|'));
            return lines;
        };
        QCOMPARE(listing(ours), listing(expected));
        // Known keys come in the program's spelling, so that a save writes no second copy.
        for (const QString& key : format.allKeys())
            QVERIFY2(configKeys().contains(key) || !configKeys().contains(key, Qt::CaseInsensitive), qPrintable(key));

        AppState state;
        state.loadConfig();
        QVERIFY(!state.configUnread);
        QCOMPARE(state.DaysSave, daysSave);
        QList<int> lines;
        for (const ConfigText::SkippedLine& l : qAsConst(state.configSkipped))
            lines << l.number;
        QCOMPARE(lines, skipped);
        QCOMPARE(state.configWindows1251, windows1251);
    }

    // The configuration's format reads what the INI store's own writer writes as the same texts
    // (the fuzz target checks the store's reading of what the format writes). "format.ini" is a
    // name the store never read: it keeps what it read of a name, whatever the format.
    void formatReadsWhatTheStoreWrites()
    {
        enter(QStringLiteral("agree"));
        const QVariantList values { "a, b,c;d=e", "C:\\x\\\"q\" \\0", "@Variant(\\0\\0\\0\\x7f)", " a ",
            QStringLiteral("Отчёт1a\t7\001f\U0001F600"), -12.5, true };
        const auto key
            = [](int i) { return QStringLiteral("%1k%2").arg(QLatin1String(i % 2 ? "Other/" : "DB/")).arg(i); };
        for (int i = 0; i < values.size(); ++i)
            QSettings(QStringLiteral("store.ini"), QSettings::IniFormat).setValue(key(i), values[i]);
        QVERIFY(QFile::rename(QStringLiteral("store.ini"), QStringLiteral("format.ini")));
        QSettings format(QStringLiteral("format.ini"), configFormat());
        QCOMPARE(format.allKeys().size(), values.size());
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(format.value(key(i)).toString(), values[i].toString());
    }

    // A file that cannot be copied aside (a size limit stands for a full disk) is left byte for
    // byte: the program runs on defaults, says so, and writes the file when the user saves the
    // settings.
    void failedCopyLeavesTheFile()
    {
        enter(QStringLiteral("limited"));
        const QByteArray bytes = "not a configuration\n";
        writeFile(QStringLiteral("data/config.ini"), bytes);
        const auto handler = ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
        rlimit limit;
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t was = std::exchange(limit.rlim_cur, 0);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        AppState state;
        state.loadConfig();
        state.saveConfig();
        state.configSettings->sync();
        limit.rlim_cur = was;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, handler);
        QCOMPARE(readAll(QStringLiteral("data/config.ini")), bytes);
        QCOMPARE(QDir(QStringLiteral("data")).entryList({ QStringLiteral("*.bad-*") }), QStringList());
        QCOMPARE(state.configUnreadWarning(),
            QStringLiteral("Файл \"data/config.ini\" не удалось прочитать, используются настройки по умолчанию.\n"
                           "Сохранить копию файла не удалось, поэтому файл останется как есть, пока настройки не "
                           "будут сохранены в окне настроек."));
        state.saveConfig(true);
        state.configSettings->sync();
        QVERIFY(readAll(QStringLiteral("data/config.ini")).contains("\nDaysSave=730\n"));
    }

    void roundTripKeepsAwkwardValues()
    {
        enter(QStringLiteral("roundtrip"));
        QVERIFY(createDefaultConfig());
        {
            CountingState state;
            state.loadConfig();
            state.PortName = QStringLiteral("/dev/ttyUSB0");
            state.PathExportDBF = QStringLiteral("C:\\Выгрузка\\a,b;c \"q\"");
            state.Hostname = QStringLiteral("db\\inst;x=1");
            state.Password = QStringLiteral("@p;a,s=s\\w\"d");
            state.serverLogin = QStringLiteral(" padded ");
            state.notificationEmail = QStringLiteral("дежурный@пример.рф");
            state.TemperatureMinCritical = -12.5;
            state.NetworkPort = 65535;
            state.isBatteryLow = true;
            state.setColorByIndex(8, QColor(0x12, 0xab, 0xef));
            state.saveConfig();
            QCOMPARE(state.saves, 1);
            state.configSettings->sync();
        }
        AppState again;
        again.loadConfig();
        QCOMPARE(again.PortName, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(again.PathExportDBF, QStringLiteral("C:\\Выгрузка\\a,b;c \"q\""));
        QCOMPARE(again.Hostname, QStringLiteral("db\\inst;x=1"));
        QCOMPARE(again.Password, QStringLiteral("@p;a,s=s\\w\"d"));
        QCOMPARE(again.serverLogin, QStringLiteral(" padded "));
        QCOMPARE(again.notificationEmail, QStringLiteral("дежурный@пример.рф"));
        QCOMPARE(again.TemperatureMinCritical, -12.5);
        QCOMPARE(int(again.NetworkPort), 65535);
        QCOMPARE(again.isBatteryLow, true);
        QCOMPARE(again.font, QColor(0x12, 0xab, 0xef));
        QCOMPARE(again.DaysSave, 365);
        
        // Colours of the default file come back in lower case.
        const QByteArray bytes = readAll(QStringLiteral("data/config.ini"));
        QVERIFY(bytes.contains("maximalCriticalHumidity=#3232ff"));
        QVERIFY(!bytes.contains("#3232FF"));
    }

    // Every sensor that registers saves the configuration: only a changed value rewrites the
    // file (and syncs it to disk).
    void savingUnchangedValuesLeavesTheFile()
    {
        enter(QStringLiteral("unchanged"));
        QVERIFY(createDefaultConfig());
        CountingState state;
        state.loadConfig();
        state.saveConfig();
        state.configSettings->sync();
        const QString path = QStringLiteral("data/config.ini");
        const QDateTime old = QDateTime::currentDateTime().addDays(-1);
        auto age = [&] {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        };
        age();
        const QByteArray before = readAll(path);
        for (int i = 0; i < 3; ++i) {
            state.saveConfig();
            state.configSettings->sync();
        }
        QCOMPARE(state.saves, 4);
        QCOMPARE(QFileInfo(path).lastModified(), old);
        QCOMPARE(readAll(path), before);

        state.BreakInterval = 600;
        state.saveConfig();
        state.configSettings->sync();
        QVERIFY(QFileInfo(path).lastModified() > old);
        QVERIFY(readAll(path).contains("BreakInterval=600"));
    }

    void saveWithoutLoadWritesNothing()
    {
        enter(QStringLiteral("noload"));
        CountingState state;
        state.saveConfig();
        QCOMPARE(state.saves, 0);
        QVERIFY(!QFile::exists(QStringLiteral("data/config.ini")));
    }

    void colourIndex_data()
    {
        QTest::addColumn<unsigned>("index");
        QTest::addColumn<QString>("member");
        const char* names[] = { "minimalCriticalHumidity", "maximalCriticalHumidity", "minimalCriticalTemperature",
            "maximalCriticalTemperature", "minimalNonCriticalHumidity", "maximalNonCriticalHumidity",
            "minimalNonCriticalTemperature", "maximalNonCriticalTemperature", "font", "line", "node" };
        for (unsigned i = 0; i < 11; ++i)
            QTest::newRow(names[i]) << i << QString::fromLatin1(names[i]);
    }
    void colourIndex()
    {
        QFETCH(unsigned, index);
        QFETCH(QString, member);
        enter(QStringLiteral("colours"));
        writeFile(QStringLiteral("data/config.ini"), QByteArray());
        AppState state;
        state.loadConfig();
        const QColor marker(1, 2, 3);
        state.setColorByIndex(index, marker);
        state.setColorByIndex(11, QColor(9, 9, 9));  // out of range: nothing changes
        QCOMPARE(state.colorByIndex(index), marker);
        QVERIFY(!state.colorByIndex(11).isValid());
        state.saveConfig();
        state.configSettings->sync();
        QSettings written(QStringLiteral("data/config.ini"), QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("Color/") + member).toString(), QStringLiteral("#010203"));
        int markers = 0;
        for (const QString& key : written.allKeys())
            markers += written.value(key).toString() == QLatin1String("#010203") ? 1 : 0;
        QCOMPARE(markers, 1);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
