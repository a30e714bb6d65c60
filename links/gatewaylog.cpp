#include "links/gatewaylog.h"

#include <QCoreApplication>
#include <QStringList>

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

// "сообщение", "сообщения" or "сообщений", as the number before it asks.
QString messagesWord(int n)
{
    const int tens = n % 100;
    const int ones = n % 10;
    if (ones == 1 && tens != 11)
        return tr("сообщение");
    if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        return tr("сообщения");
    return tr("сообщений");
}

} // namespace

QString cannotListen(quint16 port, const QString& reason)
{
    return tr("Не удалось открыть порт %1 для шлюзов: %2. Шлюзы не смогут подключиться: закройте программу, "
              "которая занимает этот порт, или укажите другой порт в настройках и перезапустите программу.")
        .arg(port)
        .arg(reason);
}

QString line(const QString& plainProblem)
{
    return kRed + esc(plainProblem) + kClose;
}

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

QString cutOffNotReading(const QString& name, const QString& ip, qint64 unsentBytes)
{
    return disconnected(name, ip) + QStringLiteral(": ")
        + tr("не принимает данные (не отправлено более %1 КБ)").arg(unsentBytes / 1024);
}

QString rejected(const QString& name, const QString& ip, const GatewayProtocol::FaultCounts& counts)
{
    static const char* const reasons[GatewayProtocol::kFaultCount] = {
        QT_TRANSLATE_NOOP("NetworkModule", "неизвестный заголовок"),
        QT_TRANSLATE_NOOP("NetworkModule", "неверный адрес датчика"),
        QT_TRANSLATE_NOOP("NetworkModule", "неверная запись измерения"),
        QT_TRANSLATE_NOOP("NetworkModule", "сообщение оборвано"),
        QT_TRANSLATE_NOOP("NetworkModule", "управляющий символ в тексте"),
        QT_TRANSLATE_NOOP("NetworkModule", "текст без конца длиннее 1 МБ"),
        QT_TRANSLATE_NOOP("NetworkModule", "неверный адрес модема"),
    };
    int total = 0;
    QStringList parts;
    for (int i = 0; i < GatewayProtocol::kFaultCount; ++i) {
        if (counts[size_t(i)] > 0)
            parts << tr(reasons[i]) + QStringLiteral(" — ") + QString::number(counts[size_t(i)]);
        total += counts[size_t(i)];
    }
    return kRed + tr("Отброшено %1 %2").arg(total).arg(messagesWord(total)) + kClose + QStringLiteral(" от ")
        + who(name, ip) + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

} // namespace GatewayLog
