#pragma once

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <vector>

#include "tools/modemsim/simulatedsensor.h"

// How one simulated gateway behaves.
struct GatewaySettings {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 6238;
    int sensors = 4; // sensors heard by this gateway
    int interval = 10000; // ms between two messages of one sensor
    int count = 0; // messages per sensor, then the gateway leaves; 0: no end
    bool burst = false; // send as fast as the program takes the messages
    int linger = 500; // ms connected after the last message: the program may still be
                      // reading, and a close now could cut off what it has not read
    bool modemConnected = true;
    bool quiet = false;
};

// One remote gateway: announces itself ("Conn" and its modem's "Stat" in one write), forwards
// the messages of its sensors ("Mess") and reports the sleep intervals it is sent ("Slep").
class SimulatedGateway : public QObject
{
    Q_OBJECT
public:
    SimulatedGateway(int index, int firstSensor, const QString& name, const GatewaySettings& settings, quint32 seed);

    void start();
    QString name() const { return gatewayName; }
    qint64 sent() const { return messagesSent; }

    // The messages of a gateway, as it writes them.
    static QByteArray connMessage(const QString& name);
    static QByteArray statusMessage(bool connected, const QString& modemEui64);
    static QByteArray castMessage(const QString& sensorEui64, const QByteArray& payload);
    // One line per complete "Slep" message at the front of the bytes, which lose what was read.
    static QStringList takeSlepLines(QByteArray& bytes);
    // Every zero-ended field, decoded as UTF-8; bytes after the last zero byte form no field.
    static QStringList splitFields(const QByteArray& bytes);

signals:
    void line(QString text);
    // Every message of the count has been written.
    void allSent();
    // Disconnected, or the connection failed (ok false).
    void finished(bool ok);

private:
    void onConnected();
    void onReadyRead();
    void sendOne();
    void topUp();
    bool done() const;

    QString gatewayName;
    QString modemEui64;
    GatewaySettings settings;
    QRandomGenerator random;
    std::vector<SimulatedSensor> sensors;
    QTcpSocket socket;
    QTimer pace;
    QByteArray received;
    int next = 0;
    qint64 messagesSent = 0;
    bool ended = false;
};
