#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class InitInfoWindow;

// The one object through which the rest of the program reaches the windows.
class InterfaceModule : public QObject
{
    Q_OBJECT
public:
    explicit InterfaceModule(QObject* parent = nullptr);
    ~InterfaceModule() override;

    void refreshIfLive();
    void showInitInfoWindow();

    InitInfoWindow* initInfoWindow = nullptr;

signals:
    void signalCloseApplication(int code);
    void signalModemSendData(QByteArray data);
    void signalModemDataReaded(QByteArray data);

public slots:
    void slotStopModule();
    void slotSetInitInfoString(QString text);
    void slotStopInitializing();
    void slotSetStatusText(QString text);
    void slotNewSensor();
    void slotNetworkMessage(QString text);
    void slotRefrSensorList();
    void slotRefrSensorData();
    void slotInitInfoWindowClose();
    void slotMainWindowClose();

private:
    void requestClose();
    void createInitInfoWindow();
    bool initializingDone = false;
};

// The one interface module of the process.
extern InterfaceModule* gInterfaceModule;
