#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSerialPort>
#include <QString>
#include <QThread>
#include <QVector>

#include <functional>

#include "links/modemrecords.h"
#include "links/modemreplyparser.h"
#include "links/sleepintervals.h"

class QTimer;

// What the windows may know about the modem, copied out at one instant.
struct ModemState {
    bool initialized = false;
    int initState = 0;
    ModemInfo modemInfo;
    PanInfo panInfo;
    QVector<ModemNode> nodes;
};

// The serial link to the local ZigBee modem. The application object moves the module into
// itself and starts it: the port, the script and every slot then live in the module's thread.
class ModemModule : public QThread
{
    Q_OBJECT
public:
    // How long an answered message may wait for others to go to the main thread with it.
    static constexpr int kHandOnMs = 20;

    explicit ModemModule(QObject* parent = nullptr);
    ~ModemModule() override;

    // The module's thread is the only writer; any other thread reads through this copy.
    ModemState state() const;

    // The serial port the module opens; set before start().
    void setPortName(const QString& name) { portName = name; }
    // Seam for tests: set before start().
    void setWatchdogInterval(int ms) { watchdogInterval = ms; }
    void setHandOnInterval(int ms) { handOnMs = ms; }
    // What a sensor's message is answered with, from any thread.
    SleepIntervals& sleepIntervals() { return intervals; }

signals:
    void signalSetInitInfoString(QString text);
    void signalSetStatusText(QString text);
    void signalCloseApplication(int code);
    void signalEndInitialization(QString text);
    void signalDataReaded(QByteArray data);
    // The messages answered since the last hand-on, in the order they came.
    void signalCastsReceived(QVector<ModemCast> casts);

public slots:
    void slotStopModule();
    void slotSendData(QByteArray data);
    void slotReadyRead();
    void slotDsrChanged(bool status);
    void slotInitializeControl();
    // The main window's terminal is on: every chunk read goes to it (signalDataReaded).
    void slotTerminalShown(bool shown) { terminalShown = shown; }

protected:
    void run() override;

private:
    void handleReply(const ModemReply& reply);
    void advanceScript(int newState, const char* progress, const QByteArray& command);
    void addNode(const ModemNode& node, const char* statusText);
    void setModemInfo(const ModemInfo& info);
    void setPan(const PanInfo& pan);
    void clearPan();
    void sendCommand(const QByteArray& command);
    void portError(QSerialPort::SerialPortError error);
    void loseLine();
    void keepCast(const ModemReply& reply);
    void handOnCasts();

    // Written only by the module's thread, always under stateLock; the same thread reads them
    // without it.
    mutable QMutex stateLock;
    bool initialized = false;
    ModemInfo modemInfo;
    PanInfo panInfo;
    QVector<ModemNode> nodes;
    int initState = 0;

    QSerialPort* port = nullptr;
    QString portName;
    QTimer* watchdog = nullptr;
    // Answered messages go to the main thread together, at most handOnMs after the first:
    // one wake-up of that thread for a few messages instead of one each.
    int handOnMs = kHandOnMs;
    QVector<ModemCast> casts;
    qint64 firstCastAt = 0;
    QTimer* handOn = nullptr;
    ModemReplyParser parser;
    SleepIntervals intervals;
    // Sensor messages dropped because their sender is no EUI64.
    int badSenders = 0;
    int watchdogInterval = 15000;
    // Off, no chunk wakes the main thread: there would be no one to show it to.
    bool terminalShown = false;
    std::function<qint64()> clock;
};

// The one modem module of the process.
extern ModemModule* gModemModule;
