#include "tools/modemsim/modempeer.h"

#include <QLockFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "links/serialportlock.h"

namespace
{

const QByteArray unicastHead = QByteArrayLiteral("AT+UCASTB:");
const QByteArray ok = QByteArrayLiteral("\r\nOK\r\n");

} // namespace

ModemPeer::ModemPeer(QObject* parent)
    : QObject(parent)
{
}

ModemPeer::~ModemPeer()
{
    delete readNotifier;
    delete writeNotifier;
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
}

bool ModemPeer::open(QString* error)
{
    // The serial port lock files of all users share one folder, and a lock left there by
    // another user's killed program cannot be removed by this one: such a terminal number is
    // passed over. The terminals passed over stay open until one is found, so that the system
    // does not hand the same number out again.
    std::vector<int> passedOver;
    const auto closePassedOver = [&passedOver] {
        for (int fd : passedOver)
            ::close(fd);
    };
    for (;;) {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            *error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            closePassedOver();
            return false;
        }
        slaveName = QString::fromLocal8Bit(name);
        QLockFile lock(SerialPortLock::path(slaveName));
        if (lock.tryLock(0) || passedOver.size() >= 64) {
            lock.unlock();
            break;
        }
        passedOver.insert(passedOver.end(), { master, slave });
    }
    closePassedOver();
    // A raw line: no echo of our own answers back to us, no translation of "\r". The slave stays
    // open on our side so that the master never reads EIO while the program has its port closed.
    termios tio {};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    readNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &ModemPeer::readMaster);
    writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &ModemPeer::writeMaster);
    return true;
}

void ModemPeer::releaseIfAbandoned(const QStringList& names)
{
    for (const QString& name : names) {
        if (name.isEmpty())
            continue;
        qint64 pid = 0;
        QString host;
        QString application;
        if (QLockFile(SerialPortLock::path(name)).getLockInfo(&pid, &host, &application) && pid > 0
            && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            return;
    }
    ::ioctl(slave, TIOCNXCL);
}

void ModemPeer::setSilent(bool on)
{
    silent = on;
    if (silent)
        return;
    const QList<QByteArray> waiting = unanswered;
    unanswered.clear();
    for (const QByteArray& command : waiting)
        answer(command);
}

void ModemPeer::send(const QByteArray& bytes)
{
    if (recording)
        sentBytes.append(bytes);
    output.append(bytes);
    writeMaster();
}

void ModemPeer::sendCast(const QString& kind, const QString& eui64, const QByteArray& payload)
{
    send(castFrame(kind, eui64, payload));
}

QByteArray ModemPeer::castFrame(const QString& kind, const QString& eui64, const QByteArray& payload)
{
    return kind.toLatin1() + ':' + eui64.toLatin1() + ','
        + QByteArray::number(payload.size(), 16).rightJustified(2, '0').toUpper() + '=' + payload + "\r\n";
}

QByteArray ModemPeer::identityReply()
{
    return "\r\nTelegesis ETRX357\r\nR309C\r\n" + identityEui64() + "\r\n" + ok;
}

QByteArray ModemPeer::networkReply()
{
    return QByteArrayLiteral("\r\n+N=COO,11,-07,1A2B,0123456789ABCDEF\r\n") + ok;
}

void ModemPeer::readMaster()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) {
            if (recording)
                input.append(buf, int(n));
            pendingInput.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            readNotifier->setEnabled(false);
        break;
    }
    takeCommands();
}

void ModemPeer::writeMaster()
{
    while (!output.isEmpty()) {
        const ssize_t n = ::write(master, output.constData(), size_t(output.size()));
        if (n > 0) {
            output.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    // The line is full until the program reads: finish when it has room again.
    if (writeNotifier)
        writeNotifier->setEnabled(!output.isEmpty());
}

// Commands end with "\r"; a binary unicast carries its data, announced by a hex length,
// between the "\r" of its head and a final "\r".
void ModemPeer::takeCommands()
{
    for (;;) {
        const int cr = pendingInput.indexOf('\r');
        if (cr < 0)
            return;
        int length = cr + 1;
        if (pendingInput.startsWith(unicastHead)) {
            const int dataLength = pendingInput.mid(unicastHead.size(), 2).toInt(nullptr, 16);
            length = cr + 1 + dataLength + 1;
            if (pendingInput.size() < length)
                return;
        }
        const QByteArray command = pendingInput.left(length);
        pendingInput.remove(0, length);
        if (recording)
            commandList.append(command);
        emit commandReceived(command);
        if (silent)
            unanswered.append(command);
        else
            answer(command);
    }
}

void ModemPeer::answer(const QByteArray& command)
{
    QByteArray reply = noise + command;
    const QByteArray text = command.left(command.indexOf('\r'));
    if (text.startsWith(unicastHead)) {
        // The echoed data is followed by the final "\r" that was part of the command.
        reply += "\nOK\r\n";
        const int comma = text.indexOf(',');
        const int cr = command.indexOf('\r');
        send(reply);
        emit unicastReceived(QString::fromLatin1(text.mid(comma + 1)), command.mid(cr + 1, command.size() - cr - 2));
        return;
    }
    if (text == "ATI") {
        reply += identityReply();
    } else if (text.startsWith("ATS")) {
        reply += ok;
    } else if (text == "AT+N") {
        reply += formed ? networkReply() : QByteArrayLiteral("\r\n+N=NoPAN\r\n") + ok;
    } else if (text == "AT+EN") {
        formed = true;
        reply += QByteArrayLiteral("\r\nJPAN:11,1A2B,0123456789ABCDEF\r\n") + ok;
    } else if (text == "AT+SN") {
        reply += ok + deviceReports;
        send(reply);
        emit scriptDone();
        return;
    } else {
        reply += QByteArrayLiteral("\r\nERROR:02\r\n");
    }
    send(reply);
}
