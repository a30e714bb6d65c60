#include "mail/smtp.h"

#include <QDateTime>
#include <QDebug>
#include <QSslSocket>
#include <QTimer>

#include "mail/mimeletter.h"

namespace
{

// Letter text handed to the socket ahead of what it has sent on; bounds the memory a large
// attachment takes while it goes out.
constexpr qint64 kWriteAhead = 1 << 20;

// Expected reply code of the server at each step.
int expectedCode(int state)
{
    switch (state) {
    case 8: // connecting: greeting
        return 220;
    case 1:
    case 2:
    case 5:
    case 7:
    case 10:
        return 250;
    case 3:
    case 4:
        return 334;
    case 6:
        return 235;
    case 9:
        return 354;
    default:
        return -1;
    }
}

QString stepName(int state)
{
    switch (state) {
    case 8:
        return QStringLiteral("приветствие");
    case 1:
    case 2:
        return QStringLiteral("EHLO");
    case 3:
        return QStringLiteral("AUTH LOGIN");
    case 4:
        return QStringLiteral("логин");
    case 6:
        return QStringLiteral("пароль");
    case 5:
        return QStringLiteral("MAIL FROM");
    case 7:
        return QStringLiteral("RCPT TO");
    case 9:
        return QStringLiteral("DATA");
    default:
        return QStringLiteral("письмо");
    }
}

} // namespace

Smtp::Smtp(const QString& user, const QString& pass, const QString& host, int port, int timeout)
    : timeout(timeout)
    , socket(new QSslSocket(this))
    , timer(new QTimer(this))
    , sslConfiguration(QSslConfiguration::defaultConfiguration())
    , user(user)
    , pass(pass)
    , host(host)
    , port(port)
{
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &Smtp::onTimeout);
    connect(socket, &QSslSocket::readyRead, this, &Smtp::readyRead);
    connect(socket, &QSslSocket::connected, this, &Smtp::connected);
    connect(socket, &QSslSocket::errorOccurred, this, &Smtp::errorReceived);
    connect(socket, &QSslSocket::stateChanged, this, &Smtp::stateChanged);
    connect(socket, &QSslSocket::disconnected, this, &Smtp::disconnected);
    connect(socket, &QSslSocket::encryptedBytesWritten, this, &Smtp::onEncryptedBytesWritten);
    connect(this, &Smtp::cloleConection, this, &Smtp::slotCloseConnection);
}

Smtp::~Smtp()
{
    // Leaving quietly: nobody listens to done() any more.
    state = Closed;
    socket->abort();
}

void Smtp::setParams(const QString& user, const QString& pass, const QString& host, int port)
{
    this->user = user;
    this->pass = pass;
    this->host = host;
    this->port = port;
}

void Smtp::setSslConfiguration(const QSslConfiguration& configuration)
{
    sslConfiguration = configuration;
}

bool Smtp::sendMail(
    const QString& from, const QString& to, const QString& subject, const QString& body, const QStringList& files)
{
    if (isBusy())
        return false;
    // A connection still closing after the previous letter is dropped before the state
    // changes, so its last signals cannot touch the new letter.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    lastErrorText.clear();
    // The state is "under way" from here on, so that fail() reports the refusal once.
    state = Connecting;
    if (MimeLetter::hasLineBreak(from) || MimeLetter::hasLineBreak(to) || MimeLetter::hasLineBreak(subject)) {
        fail(QStringLiteral("Перевод строки в адресе или теме письма"));
        return false;
    }
    // The attachments are opened now, so that one that cannot be read refuses the letter
    // before any connection; they are read only while the letter goes out.
    QString error;
    if (!letter.open(
            MimeLetter::head(from, to, subject, body, QDateTime::currentDateTime(), MimeLetter::newMessageId(from)),
            files, &error)) {
        fail(error);
        return false;
    }
    this->from = from;
    rcpt = to;
    letterUser = user;
    letterPass = pass;
    reader.clear();
    socket->setSslConfiguration(sslConfiguration);
    timer->start(timeout);
    socket->connectToHostEncrypted(host, quint16(port));
    return true;
}

bool Smtp::isBusy() const
{
    return state != Closed;
}

void Smtp::stateChanged(QAbstractSocket::SocketState) { }

void Smtp::errorReceived(QAbstractSocket::SocketError)
{
    if (isBusy())
        fail(socket->errorString());
}

void Smtp::disconnected()
{
    if (isBusy())
        fail(QStringLiteral("Сервер закрыл соединение"));
}

void Smtp::connected() { }

void Smtp::readyRead()
{
    reader.append(socket->readAll());
    SmtpReplyReader::Reply reply;
    while (isBusy() && reader.takeReply(&reply))
        handleReply(reply);
    if (isBusy() && reader.overflowed())
        fail(QStringLiteral("Слишком длинный ответ сервера"));
    if (!isBusy())
        reader.clear();
}

void Smtp::slotCloseConnection()
{
    state = Closed;
    streaming = false;
    letter.clear();
    timer->stop();
    reader.clear();
    socket->disconnectFromHost();
}

void Smtp::handleReply(const SmtpReplyReader::Reply& reply)
{
    if (streaming) {
        fail(QStringLiteral("Сервер ответил до конца письма: %1")
                 .arg(reply.lines.join(QLatin1Char(' '))));
        return;
    }
    if (reply.code != expectedCode(state)) {
        fail(QStringLiteral("Сервер отклонил %1: %2").arg(stepName(state), reply.lines.join(QLatin1Char(' '))));
        return;
    }
    switch (state) {
    case Connecting:
        send("EHLO localhost\r\n", Greeted);
        break;
    case Greeted:
        // The connection was encrypted from its first byte; a plain one must never carry
        // the credential.
        if (!socket->isEncrypted()) {
            fail(QStringLiteral("Соединение не зашифровано"));
            return;
        }
        send("EHLO localhost\r\n", GreetedAgain);
        break;
    case GreetedAgain:
        send("AUTH LOGIN\r\n", LoginAsked);
        break;
    case LoginAsked:
        send(letterUser.toUtf8().toBase64() + "\r\n", LoginSent);
        break;
    case LoginSent:
        send(letterPass.toUtf8().toBase64() + "\r\n", CredentialSent);
        break;
    case CredentialSent:
        send("MAIL FROM:<" + from.toUtf8() + ">\r\n", SenderSent);
        break;
    case SenderSent:
        send("RCPT TO:<" + rcpt.toUtf8() + ">\r\n", RecipientSent);
        break;
    case RecipientSent:
        send("DATA\r\n", DataAsked);
        break;
    case DataAsked:
        state = MessageSent;
        streaming = true;
        pump();
        break;
    case MessageSent:
        letter.clear();
        socket->write("QUIT\r\n");
        state = Closed;
        timer->stop();
        socket->disconnectFromHost();
        emit done(true);
        break;
    default:
        break;
    }
}

void Smtp::send(const QByteArray& command, State next)
{
    state = next;
    socket->write(command);
    timer->start(timeout);
}

void Smtp::pump()
{
    while (streaming && socket->bytesToWrite() + socket->encryptedBytesToWrite() < kWriteAhead) {
        QByteArray piece;
        QString error;
        if (letter.next(&piece, &error)) {
            socket->write(piece);
            continue;
        }
        if (!error.isEmpty()) {
            fail(error);
            return;
        }
        streaming = false;
        socket->write("\r\n.\r\n");
    }
    timer->start(timeout);
}

void Smtp::onEncryptedBytesWritten()
{
    // The time-out counts from the last progress while the letter goes out.
    if (state != MessageSent)
        return;
    if (streaming)
        pump();
    else
        timer->start(timeout);
}

void Smtp::fail(const QString& reason)
{
    if (!isBusy())
        return;
    state = Closed;
    streaming = false;
    letter.clear();
    timer->stop();
    lastErrorText = reason;
    // Dropped at once: the next letter starts on a fresh connection.
    socket->abort();
    emit done(false);
}

void Smtp::onTimeout()
{
    fail(QStringLiteral("Сервер не ответил за %1 мс").arg(timeout));
}
