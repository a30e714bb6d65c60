#pragma once

#include <QString>

#include "links/gatewayprotocol.h"

// The network log's HTML lines for gateway events. Every text that a gateway supplies (its
// name, its modem's strings, its status) is escaped: the log shows it, never renders it.
namespace GatewayLog
{

// The gateway port could not be opened (plain text, for the status bar too), and the same as
// a red line of the network log.
QString cannotListen(quint16 port, const QString& reason);
QString line(const QString& plainProblem);
QString connected(const QString& name, const QString& ip);
QString modemConnected(const QString& name, const QString& ip, const QString& deviceName,
    const QString& firmwareRevision, const QString& eui64);
QString modemDisconnected(const QString& name, const QString& ip, const QString& statusText);
QString disconnected(const QString& name, const QString& ip);
// The connection was ended by the program: its gateway let more than `unsentBytes` of what it
// was sent wait unread.
QString cutOffNotReading(const QString& name, const QString& ip, qint64 unsentBytes);
// The messages of one connection dropped since its last such line, by fault.
QString rejected(const QString& name, const QString& ip, const GatewayProtocol::FaultCounts& counts);

} // namespace GatewayLog
