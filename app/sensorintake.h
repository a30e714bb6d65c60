#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include "core/records.h"
#include "links/modemrecords.h"
#include "storage/databasewriter.h"

class AppState;
class ZigBeeClient;

// Where the intake's results go; the application object turns each into its signal or call.
class IntakeSink
{
public:
    virtual ~IntakeSink() = default;
    // The interval the modem answers `eui64` with from its next message on.
    virtual void modemSensorInterval(const QString& eui64, int interval) = 0;
    virtual void sensorRegistered() = 0;
    virtual void sensorMoved() = 0;
    // A sensor's interval for the one gateway it now comes through: the others do not relay
    // to it, and each new gateway gets the whole list when it connects.
    virtual void announceSleepInterval(ZigBeeClient* client, const QString& eui64, int interval) = 0;
    virtual void registryChanged() = 0;
    // Hands the measurement to the writer and returns at once; the views refresh once the
    // writer has committed it.
    virtual void storeMeasurement(const PendingMeasurement& measurement) = 0;
    virtual void raiseNotification(const NotificationsMessage& message) = 0;
    virtual void showStatus(const QString& text) = 0;
    virtual void resendSensorList(ZigBeeClient* client) = 0;
};

// The road of one measurement, from the modem or a gateway: registration of new sensors,
// decoding, the registry update, storage, thresholds and the lost-contact test.
class SensorIntake
{
public:
    using Clock = std::function<qint64()>;  // ms since the epoch

    SensorIntake(AppState& state, IntakeSink& sink, Clock now);

    void modemCast(const QString& kind, const QString& eui64, const QByteArray& payload);
    void modemCasts(const QVector<ModemCast>& casts);
    void networkCast(ZigBeeClient* client, const QString& eui64, const QByteArray& payload);
    // At close, before the writer goes: from now on no message is taken, answered or stored.
    void close() { closed = true; }

    // One notification message per threshold that the value crosses.
    void checkNotifications(int index, double value, int kind, const QString& eui64, const QString& name,
        const QString& locationName);

    static const QString& newSensorsLocation();

private:
    int registerModemSensor(const QString& eui64);
    int locationForNewSensors();
    Sensor* newSensor(const QString& eui64, const QString& name, int location);
    // `stem` and the first number from the list's length + 1 on that no sensor's name holds.
    QString freeName(const QString& stem) const;
    void update(int index, const SensorData& data);

    AppState& state;
    IntakeSink& sink;
    Clock now;
    bool closed = false;
};
