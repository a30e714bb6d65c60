#include "app/appstate.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include <limits>

#include "app/configfile.h"

AppState* gAppState = nullptr;

namespace
{

const char* const kViewPath = "data/view.conf";
constexpr double kTemperatureMin = -40;
constexpr double kTemperatureMax = 100;
constexpr double kHumidityMin = 0;
constexpr double kHumidityMax = 100;
constexpr int kDaysSaveMax = 36500;
// Skipped lines named one by one in the warning; the rest are counted.
constexpr int kSkippedShown = 10;
// Rows the measurement table may be asked to show; the settings dialog offers up to 10000.
constexpr int kMaxTableRowsMax = 1000000;

// A temperature threshold is in degrees from -40 to 100, a humidity one in percent from 0 to
// 100: the ranges the settings dialog offers.
double readThreshold(ConfigReader& r, const char* key, double def, bool humidity)
{
    return humidity ? r.real(key, def, kHumidityMin, kHumidityMax) : r.real(key, def, kTemperatureMin, kTemperatureMax);
}

} // namespace

AppState::AppState()
{
    gAppState = this;
}

AppState::~AppState()
{
    // The application object owns its store as a child; a store of our own goes with us.
    if (configSettings && !configSettings->parent())
        delete configSettings;
    if (viewSettings && viewSettings == ownViewSettings && !viewSettings->parent())
        delete viewSettings;
    qDeleteAll(sensors);
    qDeleteAll(locations);
    if (gAppState == this)
        gAppState = nullptr;
}

bool AppState::loadConfig()
{
    QSettings* s = new QSettings(QString::fromLatin1(kConfigPath), configFormat(), settingsParent());
    delete configSettings;
    configSettings = s;
    // Defaults would replace a file that could not be read at the next save: a copy is kept, and
    // without one the file is left alone until the user saves the settings.
    configUnread = configUnreadable(*s);
    configSetAside = configUnread ? keepConfigAside(s->fileName()) : QString();
    configHeld = configUnread && configSetAside.isEmpty();

    ConfigReader r(*s);
    PortName = r.text("Modem/PortName", QStringLiteral("COM1"));
    // Without a port gateways could not reach the program: a missing one is the default file's.
    NetworkPort = quint16(r.integer("Modem/NetworkPort", 6238, 1, 65535));

    TemperatureMinCritical = readThreshold(r, "DataWarning/TemperatureMinCritical", 5, false);
    TemperatureMinWarning = readThreshold(r, "DataWarning/TemperatureMinWarning", 10, false);
    TemperatureMaxWarning = readThreshold(r, "DataWarning/TemperatureMaxWarning", 25, false);
    TemperatureMaxCritical = readThreshold(r, "DataWarning/TemperatureMaxCritical", 30, false);
    WetnessMinCritical = readThreshold(r, "DataWarning/WetnessMinCritical", 60, true);
    WetnessMinWarning = readThreshold(r, "DataWarning/WetnessMinWarning", 70, true);
    WetnessMaxWarning = readThreshold(r, "DataWarning/WetnessMaxWarning", 98, true);
    WetnessMaxCritical = readThreshold(r, "DataWarning/WetnessMaxCritical", 99, true);
    BatteryMinCritical = r.real("DataWarning/BatteryMinCritical", 100, 0, std::numeric_limits<double>::max());
    BatteryMinWarning = r.real("DataWarning/BatteryMinWarning", 300, 0, std::numeric_limits<double>::max());

    BreakInterval = r.integer("Other/BreakInterval", 120, 1, 86400);
    MaxTableRows = r.integer("Other/MaxTableRows", 500, 1, kMaxTableRowsMax);
    DateTimeStyle = r.integer("Other/DateTimeStyle", 0, 0, 3);
    // A value that is there but no number of days would otherwise purge every stored
    // measurement at the next start.
    DaysSave = r.integer("Other/DaysSave", 730, 0, kDaysSaveMax, 365);
    HideStart = r.flag("Other/HideStart");
    TrayMessages = r.flag("Other/TrayMessages");
    ViewVoltage = r.flag("Other/ViewVoltage");
    ExportDBF = r.flag("Other/ExportDBF");
    IntervalExportDBF = r.integer("Other/IntervalExportDBF", 5, 5, 1440);
    PathExportDBF = r.text("Other/PathExportDBF", QDir::currentPath());

    Hostname = r.text("DB/Hostname", QStringLiteral("localhost\\SQLEXPRESS"));
    Database = r.text("DB/Database", QStringLiteral("Kestrum_ravok_1"));
    Username = r.text("DB/Username", QString());
    Password = r.text("DB/Password", QString());
    Port = r.integer("DB/Port", 1433, 1, 65535);
    // 2 (SQL Server) has no item in the settings dialog's list but is a database the program reaches.
    DBType = r.integer("DB/DBType", SqlQueryBuilder::SQLite, SqlQueryBuilder::SQLite, SqlQueryBuilder::SQLServer);

    maximalCriticalHumidity = r.color("Color/maximalCriticalHumidity", QColor(0x32, 0x32, 0xff));
    maximalCriticalTemperature = r.color("Color/maximalCriticalTemperature", QColor(0xff, 0x32, 0x32));
    maximalNonCriticalHumidity = r.color("Color/maximalNonCriticalHumidity", QColor(0x6e, 0xaa, 0xd2));
    maximalNonCriticalTemperature = r.color("Color/maximalNonCriticalTemperature", QColor(0xf0, 0xbe, 0x0a));
    minimalCriticalHumidity = r.color("Color/minimalCriticalHumidity", QColor(0xff, 0x32, 0x32));
    minimalCriticalTemperature = r.color("Color/minimalCriticalTemperature", QColor(0x32, 0x32, 0xff));
    minimalNonCriticalHumidity = r.color("Color/minimalNonCriticalHumidity", QColor(0xf0, 0xbe, 0x0a));
    minimalNonCriticalTemperature = r.color("Color/minimalNonCriticalTemperature", QColor(0x6e, 0xaa, 0xd2));
    node = r.color("Color/node", QColor(0xff, 0x00, 0x00));
    font = r.color("Color/font", QColor(0xff, 0xff, 0xff));
    line = r.color("Color/line", QColor(0x00, 0x00, 0x00));

    isActive = r.flag("EmailNotifications/isActive");
    serverSMTP = r.text("EmailNotifications/serverSMTP", QString());
    serverPort = r.integer("EmailNotifications/serverPort", 25, 1, 65535);
    serverLogin = r.text("EmailNotifications/serverLogin", QString());
    serverPassword = r.text("EmailNotifications/serverPassword", QString());
    notificationEmail = r.text("EmailNotifications/notificationEmail", QString());
    isMinCriticalTemperature = r.flag("EmailNotifications/isMinCriticalTemperature");
    isMinNonCriticalTemperature = r.flag("EmailNotifications/isMinNonCriticalTemperature");
    isMaxNonCriticalTemperature = r.flag("EmailNotifications/isMaxNonCriticalTemperature");
    isMaxCriticalTemperature = r.flag("EmailNotifications/isMaxCriticalTemperature");
    isMinCriticalHumidity = r.flag("EmailNotifications/isMinCriticalHumidity");
    isMinNonCriticalHumidity = r.flag("EmailNotifications/isMinNonCriticalHumidity");
    isMaxNonCriticalHumidity = r.flag("EmailNotifications/isMaxNonCriticalHumidity");
    isMaxCriticalHumidity = r.flag("EmailNotifications/isMaxCriticalHumidity");
    isSensorLost = r.flag("EmailNotifications/isSensorLost");
    isBatteryLow = r.flag("EmailNotifications/isBatteryLow");
    configFallbacks = r.fallbacks();
    purgeWaits = configUnread || !r.readAsWritten("Other/DaysSave");
    // What an unread file held is not worth naming line by line: it was set aside whole.
    const ConfigText text = configUnread ? ConfigText() : configText(s->fileName());
    configSkipped = text.skipped;
    configWindows1251 = text.windows1251;
    return true;
}

void AppState::openViewSettings()
{
    if (viewSettings == ownViewSettings)
        delete viewSettings;
    viewSettings = ownViewSettings
        = new QSettings(QString::fromLatin1(kViewPath), QSettings::IniFormat, settingsParent());
    viewSetAside.clear();
    viewUnread = settingsUnreadable(*viewSettings, { QStringLiteral("MainWindow/"), QStringLiteral("DialogReport/") });
    if (!viewUnread)
        return;
    viewSetAside = keepConfigAside(viewSettings->fileName());
    // Without a copy the file is left as it is: the window then starts and ends without a store.
    if (viewSetAside.isEmpty()) {
        delete viewSettings;
        viewSettings = ownViewSettings = nullptr;
    }
}

QString AppState::settingsWarning() const
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("AppState", text); };
    QStringList parts;
    if (!configSkipped.isEmpty()) {
        QString text = tr("Некоторые строки файла \"data/config.ini\" не удалось прочитать, они пропущены "
                          "и при записи настроек не сохранятся:");
        for (const ConfigText::SkippedLine& l : configSkipped.mid(0, kSkippedShown)) {
            text += tr("\nстрока %1: \"%2\"").arg(l.number).arg(l.text);
            if (l.why == ConfigText::Skip::OutsideSection)
                text += tr(" (ключ вне раздела)");
            else if (l.why == ConfigText::Skip::UnusableName)
                text += tr(" (недопустимое имя ключа)");
        }
        if (configSkipped.size() > kSkippedShown)
            text += tr("\n… всего пропущено строк: %1").arg(configSkipped.size());
        parts << text;
    }
    if (!configWindows1251.isEmpty()) {
        parts << tr("Значения %1 записаны в файле \"data/config.ini\" не в кодировке UTF-8 и прочитаны как текст "
                    "Windows-1251.")
                     .arg(configWindows1251.join(QStringLiteral(", ")));
    }
    if (!configFallbacks.isEmpty()) {
        QString text = tr("Значения некоторых настроек в файле \"data/config.ini\" не имеют смысла, "
                          "вместо них используются значения по умолчанию:");
        for (const ConfigReader::Fallback& f : configFallbacks)
            text += tr("\n%1 = \"%2\": используется %3").arg(f.key, f.found, f.used);
        parts << text;
    }
    if (purgeWaits) {
        parts << tr("Срок хранения измерений (Other/DaysSave) не прочитан из файла \"data/config.ini\", поэтому "
                    "старые измерения не удаляются, пока настройки не будут сохранены в окне настроек.");
    }
    if (viewUnread) {
        parts << (viewSetAside.isEmpty()
                ? tr("Файл \"data/view.conf\" не удалось прочитать, вид окна восстановлен по умолчанию.\n"
                     "Сохранить копию файла не удалось, поэтому вид окна в него записан не будет.")
                : tr("Файл \"data/view.conf\" не удалось прочитать, вид окна восстановлен по умолчанию.\n"
                     "Копия прежнего файла сохранена как \"%1\".")
                      .arg(QDir::toNativeSeparators(QDir().relativeFilePath(viewSetAside))));
    }
    return parts.join(QStringLiteral("\n\n"));
}

QString AppState::configUnreadWarning() const
{
    if (!configUnread)
        return QString();
    const auto tr = [](const char* text) { return QCoreApplication::translate("AppState", text); };
    return configSetAside.isEmpty()
        ? tr("Файл \"data/config.ini\" не удалось прочитать, используются настройки по умолчанию.\n"
             "Сохранить копию файла не удалось, поэтому файл останется как есть, пока настройки не будут "
             "сохранены в окне настроек.")
        : tr("Файл \"data/config.ini\" не удалось прочитать, используются настройки по умолчанию.\n"
             "Копия прежнего файла сохранена как \"%1\".")
              .arg(QDir::toNativeSeparators(QDir().relativeFilePath(configSetAside)));
}

void AppState::saveConfig(bool byUser)
{
    QSettings* s = configSettings;
    if (!s)
        return;
    configHeld = configHeld && !byUser;
    purgeWaits = purgeWaits && !byUser;
    if (configHeld) {
        configSaved();
        return;
    }
    // Sensors registering save the configuration too: values that did not change leave the file
    // alone, so that nothing is written and synced to disk on the thread that answers them. A
    // flag the file holds as "1" or "0" is as good as "true" or "false".
    auto put = [s](const QString& key, const QVariant& value) {
        const QVariant old = s->value(key);
        bool flag = false;
        const bool same = value.type() == QVariant::Bool
            ? ConfigReader::flagText(old.toString(), &flag) && flag == value.toBool()
            : old == value;
        if (!old.isValid() || !same)
            s->setValue(key, value);
    };
    // A colour's name is "#rrggbb" in lower case, "#000000" for an invalid one.
    auto color = [](const QColor& c) { return c.name(); };

    put(QStringLiteral("Modem/PortName"), PortName);
    put(QStringLiteral("Modem/NetworkPort"), int(NetworkPort));

    put(QStringLiteral("DataWarning/TemperatureMinCritical"), TemperatureMinCritical);
    put(QStringLiteral("DataWarning/TemperatureMinWarning"), TemperatureMinWarning);
    put(QStringLiteral("DataWarning/TemperatureMaxWarning"), TemperatureMaxWarning);
    put(QStringLiteral("DataWarning/TemperatureMaxCritical"), TemperatureMaxCritical);
    put(QStringLiteral("DataWarning/WetnessMinCritical"), WetnessMinCritical);
    put(QStringLiteral("DataWarning/WetnessMinWarning"), WetnessMinWarning);
    put(QStringLiteral("DataWarning/WetnessMaxWarning"), WetnessMaxWarning);
    put(QStringLiteral("DataWarning/WetnessMaxCritical"), WetnessMaxCritical);
    put(QStringLiteral("DataWarning/BatteryMinCritical"), BatteryMinCritical);
    put(QStringLiteral("DataWarning/BatteryMinWarning"), BatteryMinWarning);

    put(QStringLiteral("Other/BreakInterval"), BreakInterval);
    put(QStringLiteral("Other/MaxTableRows"), MaxTableRows);
    put(QStringLiteral("Other/DateTimeStyle"), DateTimeStyle);
    if (!purgeWaits)
        put(QStringLiteral("Other/DaysSave"), DaysSave);
    put(QStringLiteral("Other/HideStart"), HideStart);
    put(QStringLiteral("Other/TrayMessages"), TrayMessages);
    put(QStringLiteral("Other/ViewVoltage"), ViewVoltage);
    put(QStringLiteral("Other/ExportDBF"), ExportDBF);
    put(QStringLiteral("Other/IntervalExportDBF"), IntervalExportDBF);
    put(QStringLiteral("Other/PathExportDBF"), PathExportDBF);

    put(QStringLiteral("Color/maximalCriticalHumidity"), color(maximalCriticalHumidity));
    put(QStringLiteral("Color/maximalCriticalTemperature"), color(maximalCriticalTemperature));
    put(QStringLiteral("Color/maximalNonCriticalHumidity"), color(maximalNonCriticalHumidity));
    put(QStringLiteral("Color/maximalNonCriticalTemperature"), color(maximalNonCriticalTemperature));
    put(QStringLiteral("Color/minimalCriticalHumidity"), color(minimalCriticalHumidity));
    put(QStringLiteral("Color/minimalCriticalTemperature"), color(minimalCriticalTemperature));
    put(QStringLiteral("Color/minimalNonCriticalHumidity"), color(minimalNonCriticalHumidity));
    put(QStringLiteral("Color/minimalNonCriticalTemperature"), color(minimalNonCriticalTemperature));
    put(QStringLiteral("Color/node"), color(node));
    put(QStringLiteral("Color/font"), color(font));
    put(QStringLiteral("Color/line"), color(line));

    put(QStringLiteral("DB/Hostname"), Hostname);
    put(QStringLiteral("DB/Database"), Database);
    put(QStringLiteral("DB/Username"), Username);
    put(QStringLiteral("DB/Password"), Password);
    put(QStringLiteral("DB/Port"), Port);
    put(QStringLiteral("DB/DBType"), DBType);

    put(QStringLiteral("EmailNotifications/isActive"), isActive);
    put(QStringLiteral("EmailNotifications/serverSMTP"), serverSMTP);
    put(QStringLiteral("EmailNotifications/serverPort"), serverPort);
    put(QStringLiteral("EmailNotifications/serverLogin"), serverLogin);
    put(QStringLiteral("EmailNotifications/serverPassword"), serverPassword);
    put(QStringLiteral("EmailNotifications/notificationEmail"), notificationEmail);
    put(QStringLiteral("EmailNotifications/isMinCriticalTemperature"), isMinCriticalTemperature);
    put(QStringLiteral("EmailNotifications/isMinNonCriticalTemperature"), isMinNonCriticalTemperature);
    put(QStringLiteral("EmailNotifications/isMaxNonCriticalTemperature"), isMaxNonCriticalTemperature);
    put(QStringLiteral("EmailNotifications/isMaxCriticalTemperature"), isMaxCriticalTemperature);
    put(QStringLiteral("EmailNotifications/isMinCriticalHumidity"), isMinCriticalHumidity);
    put(QStringLiteral("EmailNotifications/isMinNonCriticalHumidity"), isMinNonCriticalHumidity);
    put(QStringLiteral("EmailNotifications/isMaxNonCriticalHumidity"), isMaxNonCriticalHumidity);
    put(QStringLiteral("EmailNotifications/isMaxCriticalHumidity"), isMaxCriticalHumidity);
    put(QStringLiteral("EmailNotifications/isSensorLost"), isSensorLost);
    put(QStringLiteral("EmailNotifications/isBatteryLow"), isBatteryLow);

    configSaved();
}

QColor* AppState::colorMember(unsigned index)
{
    switch (index) {
    case 0:
        return &minimalCriticalHumidity;
    case 1:
        return &maximalCriticalHumidity;
    case 2:
        return &minimalCriticalTemperature;
    case 3:
        return &maximalCriticalTemperature;
    case 4:
        return &minimalNonCriticalHumidity;
    case 5:
        return &maximalNonCriticalHumidity;
    case 6:
        return &minimalNonCriticalTemperature;
    case 7:
        return &maximalNonCriticalTemperature;
    case 8:
        return &font;
    case 9:
        return &line;
    case 10:
        return &node;
    default:
        return nullptr;
    }
}

QColor AppState::colorByIndex(unsigned index) const
{
    const QColor* c = const_cast<AppState*>(this)->colorMember(index);
    return c ? *c : QColor();
}

void AppState::setColorByIndex(unsigned index, const QColor& color)
{
    if (QColor* c = colorMember(index))
        *c = color;
}

Sensor* AppState::findSensor(const QString& eui64) const
{
    const int index = indexOfSensor(eui64);
    return index < 0 ? nullptr : sensors[index];
}

void AppState::indexSensors() const
{
    // Sensors register by appending: while the last sensor indexed is still where it was,
    // nothing before it moved, and only the newcomers are added (a flood of registrations
    // costs each of them one insertion, not the whole registry).
    const bool kept = indexedSensors > 0 && indexedSensors <= sensors.size()
        && sensors[indexedSensors - 1] == indexedLast && sensors[indexedSensors - 1]->EUI64 == indexedLastEui;
    if (!kept) {
        sensorIndex.clear();
        sensorIndex.reserve(sensors.size());
    }
    // The first of two sensors with one address wins, as a linear search would.
    for (int i = kept ? indexedSensors : 0; i < sensors.size(); ++i) {
        const QString key = sensors[i]->EUI64.toUpper();
        if (!sensorIndex.contains(key))
            sensorIndex.insert(key, i);
    }
    indexedSensors = sensors.size();
    indexedLast = sensors.isEmpty() ? nullptr : sensors.last();
    indexedLastEui = sensors.isEmpty() ? QString() : sensors.last()->EUI64;
}

int AppState::indexOfSensor(const QString& eui64) const
{
    indexSensors();
    // Hex digits come in either case from modems and gateways, and both spell one sensor.
    const QString key = eui64.toUpper();
    const int i = sensorIndex.value(key, -1);
    // A miss is believed: a new sensor's first message ends here, and confirming it by a walk
    // over the whole registry would cost each registration the size of the registry.
    if (i < 0 || (i < sensors.size() && sameAddress(sensors[i]->EUI64, eui64)))
        return i;
    // A stale entry: the list was changed in place (a sensor replaced, moved or readdressed at
    // its position). The whole list is indexed afresh, and the answer comes from that.
    indexedSensors = -1;
    indexSensors();
    return sensorIndex.value(key, -1);
}

bool AppState::sameAddress(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QVector<QPair<QString, int>> AppState::sleepIntervals() const
{
    QVector<QPair<QString, int>> intervals;
    intervals.reserve(sensors.size());
    for (const Sensor* s : sensors)
        intervals.append(qMakePair(s->EUI64, s->sleepInterval));
    return intervals;
}

QString AppState::locationName(int index) const
{
    return isValidLocation(index) ? locations[index]->name : QString();
}
