#pragma once

#include <QDate>
#include <QMetaType>
#include <QString>
#include <QVariant>

class QTreeWidgetItem;
class ZigBeeClient;

// One decoded measurement. A value whose flag is false means nothing.
struct SensorData
{
    bool hasTemperature = false;
    bool hasWetness = false;
    bool hasBattery = false;
    double temperature = 0.0;
    double wetness = 0.0;
    double battery = 0.0;
};

// One radio sensor of the registry. A sensor created in memory starts with the same values
// a fresh database row gets, so it behaves the same before and after the next load.
struct Sensor
{
    QString EUI64;
    QString name;
    int location = 0;
    int sleepInterval = 60;
    QTreeWidgetItem* treeItem = nullptr;
    SensorData lastData;
    qint64 lastSeen = 0;  // ms since the epoch
    bool online = false;
    QDate datecheck;
    bool calibrationDue = false;
    // Column defaults of the sensors table, as they stand there.
    double tMinNoncritical = 5;
    double tMaxNoncritical = 5;
    double tMinCritical = 5;
    double tMaxCritical = 30;
    double hMinNoncritical = 30;
    double hMaxNoncritical = 30;
    double hMinCritical = 30;
    double hMaxCritical = 99;
    bool isLostConnection = false;
    bool isLowBattery = false;
    bool isEnabled = false;
};

// One room; a room served by a remote gateway carries the gateway's EUI64 and address.
struct Location
{
    QString name;
    QTreeWidgetItem* treeItem = nullptr;
    QString EUI64;
    QString ip;
    ZigBeeClient* client = nullptr;
};

// Event types of an alarm message.
enum NotificationType {
    NotifyTest = 1,
    NotifyTemperatureMinCritical = 2,
    NotifyTemperatureMinNoncritical = 3,
    NotifyTemperatureMaxNoncritical = 4,
    NotifyTemperatureMaxCritical = 5,
    NotifyWetnessMinCritical = 6,
    NotifyWetnessMinNoncritical = 7,
    NotifyWetnessMaxNoncritical = 8,
    NotifyWetnessMaxCritical = 9,
    NotifyBatteryLow = 10,
    NotifySensorLost = 11,
};

// One alarm on its way to the mail queue; crosses threads by value.
class NotificationsMessage
{
public:
    NotificationsMessage() = default;
    NotificationsMessage(const NotificationsMessage&) = default;
    NotificationsMessage& operator=(const NotificationsMessage&) = default;
    ~NotificationsMessage() = default;

    QString EUI64;
    QString sensorName;
    QString locationName;
    int type = 0;
    QVariant value = QVariant(0.0);
};

Q_DECLARE_METATYPE(NotificationsMessage)
