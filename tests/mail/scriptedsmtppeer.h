#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QSslSocket;

// An SMTP server on loopback with TLS from the first byte that answers from a script:
// step 0 is sent once the connection is encrypted, step N after the N-th command. A missing
// step means silence. After a "354" reply to DATA the peer takes everything up to the
// line "." as one command (the letter, recorded without that line).
class ScriptedSmtpPeer : public QTcpServer
{
    Q_OBJECT
public:
    struct Step {
        QList<QByteArray> chunks; // written one by one, with a pause between them
        bool close = false; // close the connection after the chunks
        int delayMs = 0; // wait before the first chunk
    };

    ScriptedSmtpPeer(const QSslCertificate& cert, const QSslKey& key, QObject* parent = nullptr);
    bool start(); // listens on 127.0.0.1 at a free port

    // The replies of a server that accepts every letter.
    static QList<Step> acceptingScript();

    QList<Step> script;
    QList<QList<QByteArray>> sessions; // the commands of each connection, in order
    int connections = 0;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void answer(QSslSocket* socket, int session, int step);
    void onReadyRead(QSslSocket* socket, int session);

    QSslCertificate cert;
    QSslKey key;
};
