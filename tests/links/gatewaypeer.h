#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

class NetworkModule;
class QTcpSocket;

// The gateway server on a port that was free a moment ago; tries again when another process
// took it meanwhile. Null when no port could be had.
std::unique_ptr<NetworkModule> startGatewayServer();

// A gateway on loopback, in a thread of its own: every send is one write that has left the
// socket before the call returns, so the program sees exactly these boundaries.
class GatewayPeer
{
public:
    GatewayPeer();
    ~GatewayPeer();
    GatewayPeer(const GatewayPeer&) = delete;
    GatewayPeer& operator=(const GatewayPeer&) = delete;

    bool connectTo(quint16 port, QString* error);
    bool send(const QByteArray& bytes);
    // Sends, then closes at once.
    bool sendAndClose(const QByteArray& bytes);
    void close();
    bool isConnected();
    // Everything the program has sent so far.
    QByteArray received() const;

private:
    template <typename F> void onPeerThread(F&& f);

    QThread thread;
    QObject* context = nullptr; // lives in the thread
    QTcpSocket* socket = nullptr;
    mutable QMutex lock;
    QByteArray bytes;
};
