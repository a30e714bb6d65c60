#include "app/appstate.h"

#include <QDir>
#include <QSettings>

#include "app/configfile.h"

AppState* gAppState = nullptr;

namespace {

// Defaults are given as text and converted like a value read from the file.
QString readString(QSettings* s, const char* key, const QString& def)
{
    return s->value(QLatin1String(key), def).toString();
}

int readInt(QSettings* s, const char* key, const char* def)
{
    return s->value(QLatin1String(key), QString::fromLatin1(def)).toInt();
}

double readDouble(QSettings* s, const char* key, const char* def)
{
    return s->value(QLatin1String(key), QString::fromLatin1(def)).toDouble();
}

bool readBool(QSettings* s, const char* key)
{
    return s->value(QLatin1String(key), QStringLiteral("false")).toBool();
}

// Days to keep measurements. A value that is there but no number of days (empty, "365 days",
// negative) would otherwise purge every stored measurement at the next start.
int readDaysSave(QSettings* s)
{
    const QVariant value = s->value(QStringLiteral("Other/DaysSave"));
    if (!value.isValid())
        return 730;
    bool ok = false;
    const int days = value.toString().trimmed().toInt(&ok);
    if (ok && days >= 0)
        return days;
    qWarning("Other/DaysSave \"%s\" is not a number of days: measurements are kept 365 days",
        qPrintable(value.toString().left(40)));
    return 365;
}

QColor readColor(QSettings* s, const char* key, const char* def)
{
    QColor c;
    c.setNamedColor(s->value(QLatin1String(key), QString::fromLatin1(def)).toString());
    return c;
}

}  // namespace

AppState::AppState()
{
    gAppState = this;
}

AppState::~AppState()
{
    // The application object owns its store as a child; a store of our own goes with us.
    if (configSettings && !configSettings->parent())
        delete configSettings;
    qDeleteAll(sensors);
    qDeleteAll(locations);
    if (gAppState == this)
        gAppState = nullptr;
}

bool AppState::loadConfig()
{
    // A file carrying serialized objects is none of ours and is never handed to the store.
    const QString serializedCopy = setAsideSerializedConfig(QString::fromLatin1(kConfigPath));
    QSettings* s = new QSettings(QString::fromLatin1(kConfigPath), QSettings::IniFormat, settingsParent());
    delete configSettings;
    configSettings = s;
    // Defaults would replace a file that could not be read at the next save: a copy is kept.
    configUnread = !serializedCopy.isEmpty() || configUnreadable(*s);
    configSetAside = serializedCopy.isEmpty() && configUnread ? keepConfigAside(s->fileName()) : serializedCopy;

    PortName = readString(s, "Modem/PortName", QStringLiteral("COM1"));
    NetworkPort = quint16(readInt(s, "Modem/NetworkPort", "0"));

    TemperatureMinCritical = readDouble(s, "DataWarning/TemperatureMinCritical", "5");
    TemperatureMinWarning = readDouble(s, "DataWarning/TemperatureMinWarning", "10");
    TemperatureMaxWarning = readDouble(s, "DataWarning/TemperatureMaxWarning", "25");
    TemperatureMaxCritical = readDouble(s, "DataWarning/TemperatureMaxCritical", "30");
    WetnessMinCritical = readDouble(s, "DataWarning/WetnessMinCritical", "60");
    WetnessMinWarning = readDouble(s, "DataWarning/WetnessMinWarning", "70");
    WetnessMaxWarning = readDouble(s, "DataWarning/WetnessMaxWarning", "98");
    WetnessMaxCritical = readDouble(s, "DataWarning/WetnessMaxCritical", "99");
    BatteryMinCritical = readDouble(s, "DataWarning/BatteryMinCritical", "100");
    BatteryMinWarning = readDouble(s, "DataWarning/BatteryMinWarning", "300");

    BreakInterval = readInt(s, "Other/BreakInterval", "120");
    MaxTableRows = readInt(s, "Other/MaxTableRows", "500");
    DateTimeStyle = readInt(s, "Other/DateTimeStyle", "0");
    DaysSave = readDaysSave(s);
    HideStart = readBool(s, "Other/HideStart");
    TrayMessages = readBool(s, "Other/TrayMessages");
    ViewVoltage = readBool(s, "Other/ViewVoltage");
    ExportDBF = readBool(s, "Other/ExportDBF");
    IntervalExportDBF = readInt(s, "Other/IntervalExportDBF", "5");
    PathExportDBF = s->value(QStringLiteral("Other/PathExportDBF"), QDir::currentPath()).toString();

    Hostname = readString(s, "DB/Hostname", QStringLiteral("localhost\\SQLEXPRESS"));
    Database = readString(s, "DB/Database", QStringLiteral("Kestrum_ravok_1"));
    Username = readString(s, "DB/Username", QString());
    Password = readString(s, "DB/Password", QString());
    Port = readInt(s, "DB/Port", "1433");
    DBType = readInt(s, "DB/DBType", "0");

    maximalCriticalHumidity = readColor(s, "Color/maximalCriticalHumidity", "#3232FF");
    maximalCriticalTemperature = readColor(s, "Color/maximalCriticalTemperature", "#FF3232");
    maximalNonCriticalHumidity = readColor(s, "Color/maximalNonCriticalHumidity", "#6EAAD2");
    maximalNonCriticalTemperature = readColor(s, "Color/maximalNonCriticalTemperature", "#F0BE0A");
    minimalCriticalHumidity = readColor(s, "Color/minimalCriticalHumidity", "#FF3232");
    minimalCriticalTemperature = readColor(s, "Color/minimalCriticalTemperature", "#3232FF");
    minimalNonCriticalHumidity = readColor(s, "Color/minimalNonCriticalHumidity", "#F0BE0A");
    minimalNonCriticalTemperature = readColor(s, "Color/minimalNonCriticalTemperature", "#6EAAD2");
    node = readColor(s, "Color/node", "#ff0000");
    font = readColor(s, "Color/font", "#ffffff");
    line = readColor(s, "Color/line", "#000000");

    isActive = readBool(s, "EmailNotifications/isActive");
    serverSMTP = readString(s, "EmailNotifications/serverSMTP", QString());
    serverPort = readInt(s, "EmailNotifications/serverPort", "25");
    serverLogin = readString(s, "EmailNotifications/serverLogin", QString());
    serverPassword = readString(s, "EmailNotifications/serverPassword", QString());
    notificationEmail = readString(s, "EmailNotifications/notificationEmail", QString());
    isMinCriticalTemperature = readBool(s, "EmailNotifications/isMinCriticalTemperature");
    isMinNonCriticalTemperature = readBool(s, "EmailNotifications/isMinNonCriticalTemperature");
    isMaxNonCriticalTemperature = readBool(s, "EmailNotifications/isMaxNonCriticalTemperature");
    isMaxCriticalTemperature = readBool(s, "EmailNotifications/isMaxCriticalTemperature");
    isMinCriticalHumidity = readBool(s, "EmailNotifications/isMinCriticalHumidity");
    isMinNonCriticalHumidity = readBool(s, "EmailNotifications/isMinNonCriticalHumidity");
    isMaxNonCriticalHumidity = readBool(s, "EmailNotifications/isMaxNonCriticalHumidity");
    isMaxCriticalHumidity = readBool(s, "EmailNotifications/isMaxCriticalHumidity");
    isSensorLost = readBool(s, "EmailNotifications/isSensorLost");
    isBatteryLow = readBool(s, "EmailNotifications/isBatteryLow");
    return true;
}

void AppState::saveConfig()
{
    QSettings* s = configSettings;
    if (!s)
        return;
    // A file that could not be read and could not be copied either is left as it is.
    if (configUnread && configSetAside.isEmpty()) {
        configSaved();
        return;
    }
    // Sensors registering save the configuration too: values that did not change leave the file
    // alone, so that nothing is written and synced to disk on the thread that answers them.
    auto put = [s](const QString& key, const QVariant& value) {
        if (!s->contains(key) || s->value(key) != value)
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
    case 0: return &minimalCriticalHumidity;
    case 1: return &maximalCriticalHumidity;
    case 2: return &minimalCriticalTemperature;
    case 3: return &maximalCriticalTemperature;
    case 4: return &minimalNonCriticalHumidity;
    case 5: return &maximalNonCriticalHumidity;
    case 6: return &minimalNonCriticalTemperature;
    case 7: return &maximalNonCriticalTemperature;
    case 8: return &font;
    case 9: return &line;
    case 10: return &node;
    default: return nullptr;
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
        if (!sensorIndex.contains(sensors[i]->EUI64))
            sensorIndex.insert(sensors[i]->EUI64, i);
    }
    indexedSensors = sensors.size();
    indexedLast = sensors.isEmpty() ? nullptr : sensors.last();
    indexedLastEui = sensors.isEmpty() ? QString() : sensors.last()->EUI64;
}

int AppState::indexOfSensor(const QString& eui64) const
{
    const auto hit = [&](int i) { return i >= 0 && i < sensors.size() && sensors[i]->EUI64 == eui64; };
    indexSensors();
    const int i = sensorIndex.value(eui64, -1);
    if (hit(i))
        return i;
    // A sensor replaced or readdressed in place escapes the check above. A new sensor's first
    // message ends here, so the miss is confirmed by a plain comparison of the addresses, which
    // costs far less than hashing them all again.
    for (int k = 0; k < sensors.size(); ++k) {
        if (sensors[k]->EUI64 == eui64) {
            indexedSensors = -1;
            indexSensors();
            return k;
        }
    }
    if (i >= 0)
        indexedSensors = -1; // stale: indexed afresh at the next look-up
    return -1;
}

int AppState::findLocation(const QString& name) const
{
    for (int i = 0; i < locations.size(); ++i) {
        if (locations[i]->name == name)
            return i;
    }
    return -1;
}

QString AppState::locationName(int index) const
{
    return isValidLocation(index) ? locations[index]->name : QString();
}
