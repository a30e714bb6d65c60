#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

// Identity of the local modem, from its "ATI" reply.
struct ModemInfo {
    QString model;
    QString revision;
    QString EUI64;
};

// Network state of the local modem, from its "AT+N" replies.
struct PanInfo {
    bool pan = false;
    QString deviceType;
    int channel = 0;
    int power = 0;
    QString panId;
    QString extendedPanId;
};

// One ZigBee device the modem has reported. Two nodes are the same node when their EUI64
// strings are equal.
struct ModemNode {
    QString NodeID;
    QString EUI64;
    QString ParentNodeID;
    QString DeviceType;
};

// A sensor's message as the modem took it, answered already, on its way to the intake.
struct ModemCast {
    QString kind; // UCAST, MCAST or BCAST
    QString eui64;
    QByteArray payload;
};
Q_DECLARE_METATYPE(QVector<ModemCast>)
