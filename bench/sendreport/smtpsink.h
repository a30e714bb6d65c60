#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QThread>

#include <atomic>

// An SMTP server with TLS from the first byte, in a thread of its own so that what it spends
// on decryption never lands on the thread being measured. It accepts every command and every
// letter, and counts the bytes of each letter instead of keeping them.
class SmtpSink : public QTcpServer
{
public:
    SmtpSink(const QSslCertificate& cert, const QSslKey& key);
    ~SmtpSink() override;
    // Listens on 127.0.0.1 at a free port, in its thread; 0 when it cannot.
    quint16 start();

    std::atomic<int> letters { 0 };
    std::atomic<qint64> letterBytes { 0 };

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QThread thread;
    QSslCertificate cert;
    QSslKey key;
};
