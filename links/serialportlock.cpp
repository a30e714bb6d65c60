#include "links/serialportlock.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <QStandardPaths>

namespace SerialPortLock
{

QString path(const QString& portName)
{
    // The folders Qt SerialPort tries, in its order.
    static const char* const folders[] = { "/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
        "/var/tmp", "/var/lock/lockdev", "/run/lock" };
    QString folder;
    for (const char* candidate : folders) {
        const QFileInfo info(QString::fromLatin1(candidate));
        if (info.isDir() && info.isWritable()) {
            folder = info.filePath();
            break;
        }
    }
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    // QSerialPort names the port by its system location without "/dev/".
    return folder + QStringLiteral("/LCK..") + QSerialPort(portName).portName().replace(QLatin1Char('/'), '_');
}

bool clearAbandoned(const QString& portName)
{
    const QString file = path(portName);
    const QFileInfo info(file);
    if (!info.exists() || info.size() != 0)
        return false;
    // An empty file past its first millisecond is stale to QLockFile, which removes it only
    // when it can take the file's own lock: a process that holds it keeps it.
    QLockFile lock(file);
    lock.setStaleLockTime(1);
    if (!lock.tryLock(0))
        return false;
    lock.unlock();
    return true;
}

} // namespace SerialPortLock
