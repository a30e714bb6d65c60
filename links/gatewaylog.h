#pragma once

#include <QString>

// The network log's HTML lines for gateway events. Every text that a gateway supplies (its
// name, its modem's strings, its status) is escaped: the log shows it, never renders it.
namespace GatewayLog
{

QString connected(const QString& name, const QString& ip);
QString modemConnected(const QString& name, const QString& ip, const QString& deviceName,
    const QString& firmwareRevision, const QString& eui64);
QString modemDisconnected(const QString& name, const QString& ip, const QString& statusText);
QString disconnected(const QString& name, const QString& ip);
// A "Mess" whose sensor address is not 16 hexadecimal digits, dropped.
QString badAddress(const QString& name, const QString& ip, const QString& eui64);

} // namespace GatewayLog
