#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

class NetworkModule;
class QTcpSocket;

// A text field of a gateway's message: the text, then a zero.
inline QByteArray z(const QByteArray& text)
{
    return text + '\0';
}

// A "Stat" body of a gateway whose modem, of this EUI64, is connected.
inline QByteArray connectedStatus(const QByteArray& modemEui)
{
    return z("Connected") + z("ETRX357") + z("R309C") + z(modemEui) + z("COO") + z("11") + z("3") + z("1A2B")
        + z("000D6F0000AB1A2B");
}

// A gateway's first words: its name, then its status, without a modem when modemEui is null.
inline QByteArray hello(const QByteArray& name, const QByteArray& modemEui)
{
    return "Conn" + z(name) + "Stat"
        + (modemEui.isNull() ? z("Disconnected") + z("no modem") : connectedStatus(modemEui));
}

// The gateway server on a port that was free a moment ago; tries again when another process
// took it meanwhile. Null when no port could be had.
std::unique_ptr<NetworkModule> startGatewayServer();

// A gateway port for a program started next, free now; 0 when none could be had. The system
// hands out the ports of its ephemeral range unasked, as the local ports of other tests'
// connections, and one could be taken so between this check and the program's listen; the
// port is picked below that range, where nothing is handed out unasked.
quint16 portForAProgram();

// A gateway on loopback, in a thread of its own: every send is one write that has left the
// socket before the call returns, so the program sees exactly these boundaries.
class GatewayPeer
{
public:
    GatewayPeer();
    ~GatewayPeer();
    GatewayPeer(const GatewayPeer&) = delete;
    GatewayPeer& operator=(const GatewayPeer&) = delete;

    // False with the reason in `failure` (and in *error when given) when it cannot connect.
    bool connectTo(quint16 port, QString* error = nullptr);
    bool send(const QByteArray& bytes);
    // Sends, then closes at once.
    bool sendAndClose(const QByteArray& bytes);
    void close();
    bool isConnected();
    // Everything the program has sent so far.
    QByteArray received() const;
    QString failure;

private:
    template <typename F> void onPeerThread(F&& f);

    QThread thread;
    QObject* context = nullptr; // lives in the thread
    QTcpSocket* socket = nullptr;
    mutable QMutex lock;
    QByteArray bytes;
};
