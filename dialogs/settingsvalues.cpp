#include "dialogs/settingsvalues.h"

#include "app/appstate.h"

namespace
{

// The members behind the threshold spins and the event boxes, in the order of the arrays.
constexpr double AppState::*kThresholdMembers[SettingsValues::kThresholds]
    = { &AppState::TemperatureMinCritical, &AppState::TemperatureMinWarning, &AppState::TemperatureMaxWarning,
          &AppState::TemperatureMaxCritical, &AppState::WetnessMinCritical, &AppState::WetnessMinWarning,
          &AppState::WetnessMaxWarning, &AppState::WetnessMaxCritical };

constexpr bool AppState::*kEventMembers[SettingsValues::kEvents] = { &AppState::isMinCriticalTemperature,
    &AppState::isMinNonCriticalTemperature, &AppState::isMaxNonCriticalTemperature, &AppState::isMaxCriticalTemperature,
    &AppState::isMinCriticalHumidity, &AppState::isMinNonCriticalHumidity, &AppState::isMaxNonCriticalHumidity,
    &AppState::isMaxCriticalHumidity, &AppState::isBatteryLow, &AppState::isSensorLost };

// What the main tab's defaults button paints, by colour index: the default file's colours.
const char* const kDefaultColors[SettingsValues::kColors] = { "#FF3232", "#3232FF", "#3232FF", "#FF3232", "#F0BE0A",
    "#6EAAD2", "#6EAAD2", "#F0BE0A", "#ffffff", "#000000", "#ff0000" };

// The main tab's defaults; for humidity they are not the default file's 60, 70, 98, 99.
const double kDefaultThresholds[SettingsValues::kThresholds] = { 5, 10, 25, 30, 5, 10, 90, 98 };

} // namespace

SettingsValues SettingsValues::fromConfig(const AppState& config)
{
    SettingsValues v;
    v.portName = config.PortName;
    v.networkPort = QString::number(config.NetworkPort);
    for (int i = 0; i < kThresholds; ++i)
        v.thresholds[i] = config.*kThresholdMembers[i];
    for (int i = 0; i < kColors; ++i)
        v.colors[i] = config.colorByIndex(unsigned(i));

    v.breakInterval = breakTime(config.BreakInterval);
    v.maxTableRows = config.MaxTableRows;
    v.dateTimeStyle = config.DateTimeStyle;
    v.daysSave = config.DaysSave;
    v.hideStart = config.HideStart;
    v.trayMessages = config.TrayMessages;
    v.viewVoltage = config.ViewVoltage;
    v.dbType = config.DBType;
    v.hostname = config.Hostname;
    v.username = config.Username;
    v.password = config.Password;
    v.database = config.Database;
    v.dbPort = QString::number(config.Port);
    v.exportDbf = config.ExportDBF;
    v.intervalExportDbf = config.IntervalExportDBF;
    v.pathExportDbf = config.PathExportDBF;

    v.notificationsActive = config.isActive;
    v.smtpServer = config.serverSMTP;
    v.smtpPort = QString::number(config.serverPort);
    v.smtpLogin = config.serverLogin;
    v.smtpPassword = config.serverPassword;
    v.email = config.notificationEmail;
    for (int i = 0; i < kEvents; ++i)
        v.events[i] = config.*kEventMembers[i];
    return v;
}

void SettingsValues::resetMain(const AppState& config)
{
    portName = config.PortName;
    networkPort = QStringLiteral("6238");
    for (int i = 0; i < kThresholds; ++i)
        thresholds[i] = kDefaultThresholds[i];
    for (int i = 0; i < kColors; ++i)
        colors[i] = QColor(QLatin1String(kDefaultColors[i]));
}

void SettingsValues::resetOther(const QString& currentDir, const QString& hostName)
{
    breakInterval = QTime(0, 2);
    maxTableRows = 200;
    dateTimeStyle = 1;
    daysSave = 730;
    hideStart = false;
    trayMessages = false;
    viewVoltage = false;
    dbType = SqlQueryBuilder::SQLite;
    hostname = hostName + QStringLiteral("\\SQLEXPRESS");
    username.clear();
    password.clear();
    database = QStringLiteral("Kestrum_ravok_1");
    dbPort = QStringLiteral("1433");
    exportDbf = false;
    intervalExportDbf = 5;
    pathExportDbf = currentDir;
}

void SettingsValues::resetNotifications()
{
    notificationsActive = false;
    smtpServer.clear();
    smtpPort = QStringLiteral("25");
    smtpPassword.clear();
    smtpLogin.clear();
    email.clear();
    for (bool& e : events)
        e = false;
}

SettingsValues::PortChange SettingsValues::networkPortChange(const QString& text, quint16 current, quint16* port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (ok && value == current)
        return PortChange::Unchanged;
    if (!ok || value < 1 || value > 65535)
        return PortChange::Refused;
    *port = quint16(value);
    return PortChange::Changed;
}

SettingsValues::Applied SettingsValues::applyTo(AppState& config) const
{
    Applied applied;
    if (portName != config.PortName) {
        applied.portNameChanged = true;
        config.PortName = portName;
    }
    quint16 port = config.NetworkPort;
    applied.networkPort = networkPortChange(networkPort, config.NetworkPort, &port);
    config.NetworkPort = port;

    for (int i = 0; i < kThresholds; ++i)
        config.*kThresholdMembers[i] = thresholds[i];
    for (int i = 0; i < kColors; ++i)
        config.setColorByIndex(unsigned(i), colors[i]);

    config.Database = database;
    config.Hostname = hostname;
    config.Password = password;
    config.Username = username;
    config.Port = portNumber(dbPort);
    config.DBType = dbType;

    config.PathExportDBF = pathExportDbf;
    config.IntervalExportDBF = intervalExportDbf;
    config.ExportDBF = exportDbf;

    config.isActive = notificationsActive;
    config.serverSMTP = smtpServer;
    config.serverPort = portNumber(smtpPort);
    config.serverLogin = smtpLogin;
    config.serverPassword = smtpPassword;
    config.notificationEmail = email;
    for (int i = 0; i < kEvents; ++i)
        config.*kEventMembers[i] = events[i];
    return applied;
}

int SettingsValues::portNumber(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

int SettingsValues::breakSeconds(const QTime& time)
{
    return time.hour() * 3600 + time.minute() * 60;
}

QTime SettingsValues::breakTime(int seconds)
{
    return QTime(seconds / 3600, (seconds % 3600) / 60, 0);
}
