#pragma once

#include <QObject>

#include "app/gatewaybinding.h"
#include "app/sensorintake.h"

class AppState;
class NetworkModule;
class SQLBaseModule;

// The network part of the application object's wiring, for tests and benchmarks that run
// without it: server signals to binding and intake, their results back to the server and the
// database.
class GatewayHub : public QObject, public IntakeSink
{
public:
    GatewayHub(AppState& state, NetworkModule& net, SQLBaseModule& sql);

    void modemSensorInterval(const QString&, int) override { }
    void sensorRegistered() override { }
    void sensorMoved() override { }
    void announceSleepInterval(ZigBeeClient* client, const QString& eui64, int interval) override;
    void registryChanged() override { }
    void storeMeasurement(const PendingMeasurement& measurement) override;
    void raiseNotification(const NotificationsMessage&) override { }
    void showStatus(const QString&) override { }
    void resendSensorList(ZigBeeClient* client) override;

private:
    NetworkModule& net;
    SQLBaseModule& sql;
    GatewayBinding binding;
    SensorIntake intake;
};
