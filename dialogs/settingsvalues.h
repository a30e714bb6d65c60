#pragma once

#include <QColor>
#include <QString>
#include <QTime>

#include "storage/sqlquerybuilder.h"

class AppState;

// Everything the settings dialog shows, in the form its widgets hold it (port texts as typed,
// the break interval as a time), and the decisions of the dialog's buttons: what the show step
// puts on screen, what each defaults button puts there, and what apply stores.
struct SettingsValues {
    static constexpr int kThresholds = 8;
    static constexpr int kColors = 11;
    static constexpr int kEvents = 10;

    // "Главное"
    QString portName;
    QString networkPort;
    // Temperature min critical, min warning, max warning, max critical, then the same four
    // for humidity.
    double thresholds[kThresholds] = {};
    // By colour index (AppState::colorByIndex).
    QColor colors[kColors];

    // "Другое"
    QTime breakInterval;
    int maxTableRows = 0;
    int dateTimeStyle = 0;
    int daysSave = 0;
    bool hideStart = false;
    bool trayMessages = false;
    bool viewVoltage = false;
    int dbType = SqlQueryBuilder::SQLite;
    QString hostname;
    QString username;
    QString password;
    QString database;
    QString dbPort;
    bool exportDbf = false;
    int intervalExportDbf = 0;
    QString pathExportDbf;

    // "Уведомления"
    bool notificationsActive = false;
    QString smtpServer;
    QString smtpPort;
    QString smtpLogin;
    QString smtpPassword;
    QString email;
    // Min critical, min warning, max warning, max critical temperature, the same four for
    // humidity, then low battery and lost sensor.
    bool events[kEvents] = {};

    // The show step: every value from the configuration.
    static SettingsValues fromConfig(const AppState& config);

    // The three defaults buttons; each changes its own tab only. The modem port stays as
    // configured: there is no port every machine has.
    void resetMain(const AppState& config);
    void resetOther(const QString& currentDir, const QString& hostName);
    void resetNotifications();

    // What apply does with the network port field.
    enum class PortChange { Unchanged, Changed, Refused };
    // A port the gateways can reach is a number from 1 to 65535; anything else is refused,
    // unless it is what the configuration already holds.
    static PortChange networkPortChange(const QString& text, quint16 current, quint16* port);

    struct Applied {
        bool portNameChanged = false;
        PortChange networkPort = PortChange::Unchanged;
    };
    // The apply step: stores the values that wait for apply (not those written at once by
    // their own widgets) and tells which restart notice or refusal is due. A refused network
    // port keeps the configured one.
    Applied applyTo(AppState& config) const;

    // A port field as a number: 0 when it is not a decimal number.
    static int portNumber(const QString& text);
    // Seconds of a break interval as the time edit gives them: whole minutes.
    static int breakSeconds(const QTime& time);
    static QTime breakTime(int seconds);
};
