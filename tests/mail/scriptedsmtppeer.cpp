#include "scriptedsmtppeer.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

namespace
{

constexpr int kChunkPauseMs = 60;

} // namespace

ScriptedSmtpPeer::ScriptedSmtpPeer(const QSslCertificate& cert, const QSslKey& key, QObject* parent)
    : QTcpServer(parent)
    , cert(cert)
    , key(key)
{
}

bool ScriptedSmtpPeer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QList<ScriptedSmtpPeer::Step> ScriptedSmtpPeer::acceptingScript()
{
    return {
        { { "220 peer ESMTP ready\r\n" } },
        { { "250-peer greets localhost\r\n250 AUTH LOGIN\r\n" } },
        { { "250-peer greets localhost\r\n250 AUTH LOGIN\r\n" } },
        { { "334 VXNlcm5hbWU6\r\n" } },
        { { "334 UGFzc3dvcmQ6\r\n" } },
        { { "235 2.7.0 Authentication successful\r\n" } },
        { { "250 2.1.0 Sender OK\r\n" } },
        { { "250 2.1.5 Recipient OK\r\n" } },
        { { "354 End data with <CR><LF>.<CR><LF>\r\n" } },
        { { "250 2.0.0 Queued\r\n" } },
        { { "221 2.0.0 Bye\r\n" }, true },
    };
}

void ScriptedSmtpPeer::incomingConnection(qintptr descriptor)
{
    ++connections;
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const int session = sessions.size();
    sessions.append(QList<QByteArray>());
    socket->setProperty("buffer", QByteArray());
    socket->setLocalCertificate(cert);
    socket->setPrivateKey(key);
    connect(socket, &QSslSocket::encrypted, this, [=] { answer(socket, session, 0); });
    connect(socket, &QSslSocket::readyRead, this, [=] { onReadyRead(socket, session); });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    // A client that rejects our certificate ends the handshake; that is expected here.
    connect(socket, &QSslSocket::errorOccurred, socket, &QSslSocket::abort);
    socket->startServerEncryption();
}

void ScriptedSmtpPeer::answer(QSslSocket* socket, int session, int step)
{
    Q_UNUSED(session);
    if (step >= script.size())
        return;
    const Step s = script.at(step);
    QPointer<QSslSocket> guard(socket);
    for (int i = 0; i < s.chunks.size(); ++i) {
        QTimer::singleShot(s.delayMs + i * kChunkPauseMs, this, [guard, s, i] {
            if (!guard || guard->state() != QAbstractSocket::ConnectedState)
                return;
            guard->write(s.chunks.at(i));
            guard->flush();
            if (s.close && i == s.chunks.size() - 1)
                guard->disconnectFromHost();
        });
    }
    if (s.chunks.isEmpty() && s.close)
        QTimer::singleShot(s.delayMs, this, [guard] {
            if (guard)
                guard->disconnectFromHost();
        });
}

void ScriptedSmtpPeer::onReadyRead(QSslSocket* socket, int session)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    QList<QByteArray>& commands = sessions[session];
    for (;;) {
        const bool inData = !commands.isEmpty() && commands.last() == "DATA" && socket->property("data").toBool();
        if (inData) {
            const int end = buffer.startsWith(".\r\n") ? 0 : buffer.indexOf("\r\n.\r\n");
            if (end < 0)
                break;
            const int cut = end == 0 ? 0 : end + 2;
            commands.append(buffer.left(cut));
            buffer.remove(0, cut + 3);
            socket->setProperty("data", false);
        } else {
            const int end = buffer.indexOf("\r\n");
            if (end < 0)
                break;
            commands.append(buffer.left(end));
            buffer.remove(0, end + 2);
            // The DATA phase starts when the script accepts the DATA command.
            const int step = commands.size();
            if (commands.last() == "DATA" && step < script.size() && !script.at(step).chunks.isEmpty()
                && script.at(step).chunks.first().startsWith("354"))
                socket->setProperty("data", true);
        }
        answer(socket, session, commands.size());
    }
    socket->setProperty("buffer", buffer);
}
