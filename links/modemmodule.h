#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QThread>
#include <QVector>

class QSerialPort;

// Identity of the local modem, from its "ATI" reply.
struct ModemInfo
{
    QString model;
    QString revision;
    QString EUI64;
};

// Network state of the local modem, from its "AT+N" replies.
struct PanInfo
{
    bool pan = false;
    QString deviceType;
    int channel = 0;
    int power = 0;
    QString panId;
    QString extendedPanId;
};

// One ZigBee device the modem has reported.
struct ModemNode
{
    QString NodeID;
    QString EUI64;
    QString ParentNodeID;
    QString DeviceType;
};

// The serial link to the local ZigBee modem; runs in a thread of its own.
class ModemModule : public QThread
{
    Q_OBJECT
public:
    explicit ModemModule(QObject* parent = nullptr);
    ~ModemModule() override;

    bool initialized = false;
    ModemInfo modemInfo;
    PanInfo panInfo;
    QVector<ModemNode> nodes;
    QSerialPort* port = nullptr;
    int initState = 0;
    QString textBuffer;
    QByteArray byteBuffer;
    QDateTime lastChunkTime;

signals:
    void signalSetInitInfoString(QString text);
    void signalSetStatusText(QString text);
    void signalCloseApplication(int code);
    void signalCloseWithMessage(int code, QString text);
    void signalEndInitialization(QString text);
    void signalDataReaded(QByteArray data);
    void signalCastReceived(QString kind, QString eui64, QByteArray payload);

public slots:
    void slotStopModule();
    void slotSendData(QByteArray data);
    void slotReadyRead();
    void slotDsrChanged(bool status);
    void slotInitializeControl();

protected:
    void run() override;
};

// The one modem module of the process.
extern ModemModule* gModemModule;
