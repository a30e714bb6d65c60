#pragma once

#include <QDateTime>
#include <QString>

class QTcpSocket;

// Device strings of a gateway's own modem.
struct GatewayModemInfo
{
    QString DeviceName;
    QString FirmwareRevision;
    QString EUI64;
};

// One accepted gateway connection; created, owned and deleted by the network module.
class ZigBeeClient
{
public:
    QTcpSocket* socket = nullptr;
    QDateTime connectTime;
    QString name;
    bool modemConnected = false;
    QString statusText;
    GatewayModemInfo modem;
    QString DeviceType;
    int Channel = 0;
    int Power = 0;
    QString PanID;
    QString ExtendedPanID;
};
