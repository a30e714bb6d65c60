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

bool Source::operator==(const Source& o) const
{
    if (silent != o.silent || calibrationDue != o.calibrationDue)
        return false;
    if (silent)
        return online == o.online && silentFor == o.silentFor;
    return hasTemperature == o.hasTemperature && hasWetness == o.hasWetness
        && (!hasTemperature || temperature == o.temperature) && (!hasWetness || wetness == o.wetness)
        && std::equal(std::begin(limits), std::end(limits), std::begin(o.limits));
}

Source sensorSource(const Sensor& s, const AppState& config, qint64 nowMs)
{
    Source source;
    source.silentFor = qMax<qint64>(0, (nowMs - s.lastSeen) / 1000);
    source.silent = source.silentFor >= config.BreakInterval;
    source.online = s.online;
    source.calibrationDue = s.calibrationDue;
    source.hasTemperature = s.lastData.hasTemperature;
    source.hasWetness = s.lastData.hasWetness;
    source.temperature = s.lastData.temperature;
    source.wetness = s.lastData.wetness;
    const Limits l = limitsOf(s, config);
    const double limits[8] = { l.tMinCritical, l.tMaxCritical, l.tMinWarning, l.tMaxWarning, l.hMinCritical,
        l.hMaxCritical, l.hMinWarning, l.hMaxWarning };
    std::copy(std::begin(limits), std::end(limits), std::begin(source.limits));
    return source;
}

ItemLook sensor(const Sensor& s, const AppState& config, qint64 nowMs)
{
    ItemLook look;
    // A clock set back makes the last contact lie ahead: the sensor counts as just heard.
    const qint64 elapsed = qMax<qint64>(0, (nowMs - s.lastSeen) / 1000);
    look.alertIcon = s.calibrationDue;
    if (elapsed >= config.BreakInterval) {
        look.background = Qt::red;
        look.foreground = Qt::black;
        look.bold = true;
        look.toolTip = s.online ? silenceText(elapsed) : tr("Датчик ещё не выходил на связь");
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
    if (s.calibrationDue) {
        look.toolTip = tr("Подходит дата следующей поверки прибора");
    } else {
        if (d.hasTemperature)
            look.toolTip += tr("Темп: ") + QString::number(d.temperature, 'f', 2) + QStringLiteral("  ");
        if (d.hasWetness)
            look.toolTip += tr("Влажн: ") + QString::number(d.wetness, 'f', 2);
    }
    return look;
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
