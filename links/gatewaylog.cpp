#include "links/gatewaylog.h"

#include <QCoreApplication>

namespace GatewayLog
{

namespace
{

const QString kGreen = QStringLiteral("<B><span style=\"color:#008000;\">");
const QString kRed = QStringLiteral("<B><span style=\"color:#A00000;\">");
const QString kClose = QStringLiteral("</B></span>");

QString tr(const char* text)
{
    return QCoreApplication::translate("NetworkModule", text);
}

QString esc(const QString& peerText)
{
    return peerText.toHtmlEscaped();
}

QString who(const QString& name, const QString& ip)
{
    return QStringLiteral("\"") + esc(name) + QStringLiteral("\" (") + esc(ip) + QStringLiteral(")");
}

} // namespace

QString connected(const QString& name, const QString& ip)
{
    return kGreen + tr("Новое подключение.") + kClose + QStringLiteral(" ") + who(name, ip);
}

QString modemConnected(const QString& name, const QString& ip, const QString& deviceName,
    const QString& firmwareRevision, const QString& eui64)
{
    return kGreen + tr("Модем подсоединён") + kClose + QStringLiteral(" к ") + who(name, ip)
        + QStringLiteral(" &nbsp; DeviceName: ") + esc(deviceName) + QStringLiteral(" &nbsp; FirmwareRevision: ")
        + esc(firmwareRevision) + QStringLiteral(" &nbsp; EUI64: ") + esc(eui64);
}

QString modemDisconnected(const QString& name, const QString& ip, const QString& statusText)
{
    return kRed + tr("Модем отсоеденён от ") + kClose + who(name, ip) + QStringLiteral("  ") + esc(statusText);
}

QString disconnected(const QString& name, const QString& ip)
{
    return kRed + tr("Отсоединение клиента") + kClose + QStringLiteral(" ") + who(name, ip);
}

QString badAddress(const QString& name, const QString& ip, const QString& eui64)
{
    return kRed + tr("Сообщение отброшено: неверный адрес датчика") + kClose + QStringLiteral(" \"") + esc(eui64)
        + QStringLiteral("\" от ") + who(name, ip);
}

} // namespace GatewayLog
