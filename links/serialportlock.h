#pragma once

#include <QString>

// The lock file Qt SerialPort takes beside a port it opens ("LCK.." and the port's name, in the
// first writable of the usual lock folders). A copy of the program killed in the moment
// between creating that file and writing its process id into it leaves an empty file, which
// Qt takes for a live lock until it is half a minute old: the next start could not open the
// port and would run without a modem.
namespace SerialPortLock
{

// Where QSerialPort keeps the lock of the named port ("COM1", "ttyUSB0", "/dev/pts/3").
QString path(const QString& portName);

// Removes an empty lock file of the port that no process holds. A lock some process holds
// (Qt's own, which names its process, or another program's) stays. True when one was removed.
bool clearAbandoned(const QString& portName);

} // namespace SerialPortLock
