#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

class InitInfoWindow;
class MainWindow;
class QLabel;
class ScreenFit;
class DialogInfo;
class DialogSettings;
class DialogSensors;
class DialogReport;
class DialogAbout;
class DialogSendReport;

// The one object through which the rest of the program reaches the windows. It owns every
// top-level window; forwards that arrive while the main window does not exist are dropped.
class InterfaceModule : public QObject
{
    Q_OBJECT
public:
    explicit InterfaceModule(QObject* parent = nullptr);
    ~InterfaceModule() override;

    void refreshIfLive();
    void showInitInfoWindow();

    // One line of the network log: the grey time, then the message as it came.
    static QString networkLogLine(const QTime& time, const QString& text);

    // The status bar shows a new text at most once in this many ms (the newest of them): a text
    // painted more often is not read, and its painting cost a sixth of the window's thread.
    static int statusTextInterval;

    MainWindow* mainWindow = nullptr;
    InitInfoWindow* initInfoWindow = nullptr;
    DialogInfo* dialogInfo = nullptr;
    DialogSettings* dialogSettings = nullptr;
    DialogSensors* dialogSensors = nullptr;
    DialogReport* dialogReport = nullptr;
    DialogAbout* dialogAbout = nullptr;
    DialogSendReport* dialogSendReport = nullptr;

signals:
    void signalCloseApplication(int code);
    void signalModemSendData(QByteArray data);
    void signalModemDataReaded(QByteArray data);
    // The terminal was switched on or off: the modem sends what it reads only while it is on.
    void signalTerminalShown(bool shown);

public slots:
    void slotStopModule();
    void slotSetInitInfoString(QString text);
    void slotStopInitializing();
    void slotSetStatusText(QString text);
    void slotNewSensor();
    void slotRoomAppended();
    void slotNetworkMessage(QString text);
    void slotRefrSensorList();
    void slotRefrSensorData();
    void slotInitInfoWindowClose();
    void slotMainWindowClose();
    // The writer's backlog in the status bar, with the measurements refused at a full queue
    // and those not stored for want of their sensor's row; hidden while there is none.
    void slotWriterQueue(int length, qint64 refused, qint64 discarded = 0);
    // The database's reason while the writer's writes fail, empty once they succeed again.
    void slotWriterFault(const QString& reason);

private:
    void requestClose();
    void showStatusText();
    void createInitInfoWindow();
    // The windows are built once; a second end of initialisation, or one after shutdown,
    // finds this set.
    bool initializingDone = false;
    QLabel* writerQueueLabel = nullptr;
    ScreenFit* screenFit = nullptr;
    void showWriterState();
    int writerLength = 0;
    qint64 writerRefused = 0;
    qint64 writerDiscarded = 0;
    QString writerFault;
    QString statusText;
    QTimer statusTimer;
    QElapsedTimer statusShown;
};

// The one interface module of the process.
extern InterfaceModule* gInterfaceModule;
