#pragma once

#include <QApplication>
#include <QByteArray>
#include <QMetaObject>
#include <QString>
#include <QVector>

#include "app/appstate.h"
#include "app/gatewaybinding.h"
#include "core/records.h"
#include "app/sensorintake.h"

class QSettings;
class CloseGate;
class InterfaceModule;
class SQLBaseModule;
class ModemModule;
class NetworkModule;
class DbfExport;
class Notifications;
class ZigBeeClient;

// The application object: creates, wires, starts and stops every module, and holds the
// configuration and the registry. Its constructor runs the whole program.
class MainClass : public QApplication, public AppState, private IntakeSink
{
    Q_OBJECT
public:
    MainClass(int& argc, char** argv);
    ~MainClass() override;

    int exitCode = 0;
    InterfaceModule* interfaceModule = nullptr;
    SQLBaseModule* sqlBaseModule = nullptr;
    ModemModule* modemModule = nullptr;
    NetworkModule* networkModule = nullptr;
    DbfExport* dbfExport = nullptr;
    Notifications* notifications = nullptr;

    // Outcome of every connection the constructor made, in order.
    QVector<bool> connectionResults;

signals:
    void signalStopInterfaceModule();
    void signalStopSQLBaseModule();
    void signalStopModemModule();
    void signalStopDbfExportModule();
    void signalStopNotificationModule();
    void signalModemSendData(QByteArray data);
    // A measurement to store, in the order taken; the database module queues it on its writer.
    void signalSensorDataReceived(const PendingMeasurement& measurement);
    void signalSetStatusTest(QString text);
    void signalNewSensor();
    // A gateway's room joined the registry at its end.
    void signalRoomAppended();
    void signalSetIntervalExportDBF(int minutes);
    void signalAddNotificationMessage(NotificationsMessage message);
    void signalRefrSensorList();
    void signalRefrSensorData();
    void signalSetNotificationsSettings(QString server, int port, QString login, QString password, QString address);
    void signalNetworkSleepSend(ZigBeeClient* client, QByteArray data);
    void signalNetworkSleepSend2(ZigBeeClient* client, QString eui64, int interval);
    // The export's own copies of its switch, folder and database.
    void signalSetExportDBFSettings(bool enabled, QString path);
    void signalSetDatabaseExportDBF(
        int type, QString hostname, QString username, QString password, QString database, int port);

public slots:
    void slotCloseApplication(int code);
    void slotNetworkCastReceived(ZigBeeClient* client, QString eui64, QByteArray payload);
    void slotNewSleepInterval(Sensor* sensor, int interval);
    void slotNewConnection(ZigBeeClient* client);
    void slotNetworkInitReceived(ZigBeeClient* client);
    void slotNetworkClosReceived(ZigBeeClient* client);
    void slotNetworkStatReceived(ZigBeeClient* client);
    void slotNetworkDisconnected(ZigBeeClient* client);
    void slotModemModuleStopInitialization(QString text);
    // The database module's boxes: the database that could not be opened, and its warnings.
    void slotDatabaseStartFailed(QString text);
    void slotDatabaseWarning(QString text);

public:
    // Counts the event deliveries under way, for the close gate.
    bool notify(QObject* receiver, QEvent* event) override;

protected:
    void configSaved() override;
    QObject* settingsParent() override { return this; }

private:
    void modemSensorInterval(const QString& eui64, int interval) override;
    void sensorRegistered() override;
    void sensorMoved() override;
    void announceSleepInterval(ZigBeeClient* client, const QString& eui64, int interval) override;
    void registryChanged() override;
    void storeMeasurement(const PendingMeasurement& measurement) override;
    void raiseNotification(const NotificationsMessage& message) override;
    void showStatus(const QString& text) override;
    void resendSensorList(ZigBeeClient* client) override;

    bool checkResources();
    // The close itself, once the gate let the request through.
    void shutDown();
    void showInitText(const QString& text);
    void connectModules();
    void connectNetworkModule();
    void connectWriter();
    void connectDialogs();
    // The registry's intervals to the modem, which answers the sensors from them.
    void publishSleepIntervals();
    template <typename Sender, typename Signal, typename Receiver, typename Slot>
    void wire(Sender* sender, Signal signal, Receiver* receiver, Slot slot);

    // Set by the first close request: start-up stops at its next step, and the shutdown
    // sequence runs only once.
    bool closing = false;
    bool dialogsConnected = false;
    // A registration's save: the modem has its newcomer already.
    bool registering = false;
    // The receiver of the modem's messages, whose queued calls the close takes on its own.
    QObject modemCasts;
    CloseGate* closeGate = nullptr;
    SensorIntake intake;
    GatewayBinding binding { *this };
};

// The one application object of the process.
extern MainClass* gMainClass;
