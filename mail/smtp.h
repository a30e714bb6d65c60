#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include "mail/letterstream.h"
#include "mail/smtpreplyreader.h"

class QSslSocket;
class QTimer;

// Sends one letter at a time over SMTP with TLS from the first byte and AUTH LOGIN.
// The dialogue runs on the socket's signals and never blocks the caller's thread; every
// letter that sendMail accepts (or refuses for its content) ends with exactly one done(),
// except when the user aborts it through cloleConection(). After done() the client is ready
// for the next letter.
class Smtp : public QObject
{
    Q_OBJECT
public:
    // timeout: the longest wait, in ms, for the connection and for each reply of the server.
    Smtp(const QString& user, const QString& pass, const QString& host, int port, int timeout = 30000);
    ~Smtp() override;

    // Takes effect with the next sendMail; a letter under way keeps the values it started with.
    void setParams(const QString& user, const QString& pass, const QString& host, int port);
    // Trust settings for the server's certificate; by default the system's CAs and a check of
    // the host name.
    void setSslConfiguration(const QSslConfiguration& configuration);

    // Starts a letter. Returns false when it did not start: while another letter is still
    // under way (no done() then; the letter under way goes on), or when the letter itself is
    // refused (a line break in an address or the subject, an attachment that exists but
    // cannot be read), which also gives done(false). An attachment path that does not exist
    // is skipped.
    bool sendMail(
        const QString& from, const QString& to, const QString& subject, const QString& body, const QStringList& files);

    bool isBusy() const;
    // Why the last letter failed; empty after a success. Never holds the credential.
    QString lastError() const { return lastErrorText; }

signals:
    // May come from inside a socket signal: a listener that starts the next letter from its
    // slot should do so through a queued call.
    void done(bool success);
    // Emitted by the users to abort the letter under way.
    void cloleConection();
    // Kept for users that connect to it; failures come through done(false) and lastError().
    void error(QString text);

public slots:
    void stateChanged(QAbstractSocket::SocketState socketState);
    void errorReceived(QAbstractSocket::SocketError socketError);
    void disconnected();
    void connected();
    void readyRead();
    void slotCloseConnection();

private:
    // Dialogue steps; only their order matters.
    enum State {
        Greeted = 1,
        GreetedAgain = 2,
        LoginAsked = 3,
        LoginSent = 4,
        SenderSent = 5,
        CredentialSent = 6,
        RecipientSent = 7,
        Connecting = 8,
        DataAsked = 9,
        MessageSent = 10,
        Closed = 11,
    };

    void handleReply(const SmtpReplyReader::Reply& reply);
    void send(const QByteArray& command, State next);
    // Hands the socket the next pieces of the letter while little of it waits there.
    void pump();
    void onEncryptedBytesWritten();
    void fail(const QString& reason);
    void onTimeout();

    int timeout;
    // The letter of the dialogue under way; streaming while the socket is still being fed it.
    LetterStream letter;
    bool streaming = false;
    QSslSocket* socket;
    QTimer* timer;
    SmtpReplyReader reader;
    QSslConfiguration sslConfiguration;
    QString from;
    QString rcpt;
    QString user;
    QString pass;
    QString host;
    int port;
    // The login of the letter under way, fixed when it started.
    QString letterUser;
    QString letterPass;
    int state = Closed;
    QString lastErrorText;
};
