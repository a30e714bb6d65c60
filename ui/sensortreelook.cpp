#include "ui/sensortreelook.h"

#include <QObject>

#include <algorithm>
#include <iterator>

#include "app/appstate.h"
#include "links/modemmodule.h"
#include "links/zigbeeclient.h"

namespace SensorTreeLook
{

namespace
{

QString tr(const char* text)
{
    return QObject::tr(text);
}

struct Limits {
    double tMinCritical, tMaxCritical, tMinWarning, tMaxWarning;
    double hMinCritical, hMaxCritical, hMinWarning, hMaxWarning;
};

Limits limitsOf(const Sensor& s, const AppState& c)
{
    if (s.isEnabled)
        return { s.tMinCritical, s.tMaxCritical, s.tMinNoncritical, s.tMaxNoncritical, s.hMinCritical, s.hMaxCritical,
            s.hMinNoncritical, s.hMaxNoncritical };
    return { c.TemperatureMinCritical, c.TemperatureMaxCritical, c.TemperatureMinWarning, c.TemperatureMaxWarning,
        c.WetnessMinCritical, c.WetnessMaxCritical, c.WetnessMinWarning, c.WetnessMaxWarning };
}

// Bounds count as beyond in the tree (unlike the tables).
bool outside(bool present, double value, double low, double high)
{
    return present && (value <= low || value >= high);
}

// Seconds since the sensor was last heard. A clock set back makes the last contact lie ahead:
// the sensor counts as just heard.
qint64 silentSeconds(const Sensor& s, qint64 nowMs)
{
    return qMax<qint64>(0, (nowMs - s.lastSeen) / 1000);
}

} // namespace

ItemLook gatewayLocation(const Location& location)
{
    ItemLook look;
    look.text = location.name + QStringLiteral("  (") + location.ip + QStringLiteral(")  -  ") + location.EUI64;
    const ZigBeeClient* client = location.client;
    if (!client) {
        look.background = Qt::red;
        look.foreground = Qt::black;
        look.bold = true;
        look.toolTip = tr("Клиент в данный момент не подключен к серверу");
    } else if (!client->modemConnected) {
        look.background = Qt::white;
        look.foreground = Qt::red;
        look.toolTip = tr("ZigBee модем не инициализирован");
        if (!client->statusText.isEmpty())
            look.toolTip += QStringLiteral(" : ") + client->statusText;
    } else {
        look.background = Qt::white;
        look.foreground = Qt::black;
        look.toolTip = tr("EPID сети: ") + client->ExtendedPanID + tr("\nPID сети: ") + client->PanID;
    }
    return look;
}

QString silenceText(qint64 elapsed)
{
    QString text = tr("Датчик не выходил на связь") + QLatin1Char('\n');
    if (elapsed >= 3600)
        text += QString::number(elapsed / 3600) + tr(" часов ");
    const qint64 rest = elapsed % 3600;
    if (rest >= 60)
        text += QString::number(rest / 60) + tr(" минут ");
    if (rest % 60 != 0)
        text += QString::number(rest % 60) + tr(" секунд");
    return text;
}

ItemLook sensor(const Sensor& s, const AppState& config, qint64 nowMs)
{
    ItemLook look;
    look.alertIcon = s.calibrationDue;
    if (silentSeconds(s, nowMs) >= config.BreakInterval) {
        look.background = Qt::red;
        look.foreground = Qt::black;
        look.bold = true;
        return look;
    }
    look.background = Qt::white;
    const Limits l = limitsOf(s, config);
    const SensorData& d = s.lastData;
    if (outside(d.hasTemperature, d.temperature, l.tMinCritical, l.tMaxCritical)
        || outside(d.hasWetness, d.wetness, l.hMinCritical, l.hMaxCritical)) {
        look.bold = true;
        look.foreground = QColor(230, 0, 0);
    } else if (outside(d.hasTemperature, d.temperature, l.tMinWarning, l.tMaxWarning)
        || outside(d.hasWetness, d.wetness, l.hMinWarning, l.hMaxWarning)) {
        look.foreground = QColor(150, 0, 0);
    } else {
        look.foreground = Qt::black;
    }
    return look;
}

QString sensorToolTip(const Sensor& s, const AppState& config, qint64 nowMs)
{
    const qint64 elapsed = silentSeconds(s, nowMs);
    if (elapsed >= config.BreakInterval)
        return s.online ? silenceText(elapsed) : tr("Датчик ещё не выходил на связь");
    if (s.calibrationDue)
        return tr("Подходит дата следующей поверки прибора");
    QString text;
    const SensorData& d = s.lastData;
    if (d.hasTemperature)
        text += tr("Темп: ") + QString::number(d.temperature, 'f', 2) + QStringLiteral("  ");
    if (d.hasWetness)
        text += tr("Влажн: ") + QString::number(d.wetness, 'f', 2);
    return text;
}

bool calibrationDue(const QDate& today, const QDate& datecheck)
{
    if (!datecheck.isValid())
        return true;
    return today.daysTo(datecheck.addYears(1)) < 60;
}

int repeaterCount(const QVector<ModemNode>& nodes)
{
    int n = 0;
    for (const ModemNode& node : nodes)
        n += node.DeviceType == QLatin1String("FFD") ? 1 : 0;
    return n;
}

} // namespace SensorTreeLook
