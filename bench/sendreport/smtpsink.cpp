#include "smtpsink.h"

#include <QSslSocket>

#include <memory>

SmtpSink::SmtpSink(const QSslCertificate& cert, const QSslKey& key)
    : cert(cert)
    , key(key)
{
}

SmtpSink::~SmtpSink()
{
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

quint16 SmtpSink::start()
{
    moveToThread(&thread);
    thread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        this, [&] { port = listen(QHostAddress::LocalHost, 0) ? serverPort() : 0; }, Qt::BlockingQueuedConnection);
    return port;
}

void SmtpSink::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(cert);
    socket->setPrivateKey(key);
    // Between commands: the text of the next one; inside the letter: its last bytes, enough to
    // find the closing "\r\n.\r\n" across reads.
    auto buffer = std::make_shared<QByteArray>();
    auto inData = std::make_shared<bool>(false);
    auto bytes = std::make_shared<qint64>(0);
    // AUTH LOGIN: 1 while the login is awaited, 2 while the credential is.
    auto authStep = std::make_shared<int>(0);
    connect(socket, &QSslSocket::encrypted, socket, [socket] { socket->write("220 sink\r\n"); });
    connect(socket, &QSslSocket::readyRead, socket, [=] {
        *buffer += socket->readAll();
        for (;;) {
            if (*inData) {
                const int end = buffer->indexOf("\r\n.\r\n");
                if (end < 0) {
                    const int keep = qMin(buffer->size(), 4);
                    *bytes += buffer->size() - keep;
                    buffer->remove(0, buffer->size() - keep);
                    return;
                }
                *bytes += end;
                letterBytes += *bytes;
                ++letters;
                buffer->remove(0, end + 5);
                *inData = false;
                socket->write("250 accepted\r\n");
                continue;
            }
            const int end = buffer->indexOf("\r\n");
            if (end < 0)
                return;
            const QByteArray command = buffer->left(end).toUpper();
            buffer->remove(0, end + 2);
            if (*authStep == 1) {
                *authStep = 2;
                socket->write("334 UGFzc3dvcmQ6\r\n");
            } else if (*authStep == 2) {
                *authStep = 0;
                socket->write("235 ok\r\n");
            } else if (command.startsWith("EHLO")) {
                socket->write("250-sink\r\n250 AUTH LOGIN\r\n");
            } else if (command == "AUTH LOGIN") {
                *authStep = 1;
                socket->write("334 VXNlcm5hbWU6\r\n");
            } else if (command == "DATA") {
                *inData = true;
                *bytes = 0;
                socket->write("354 go on\r\n");
            } else if (command == "QUIT") {
                socket->write("221 bye\r\n");
                socket->disconnectFromHost();
            } else {
                socket->write("250 ok\r\n");
            }
        }
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    socket->startServerEncryption();
}
