#include "ui/mymodel.h"

#include "app/appstate.h"

namespace {

// Battery words compare the single-precision value, so a stored 3.6 is still charged.
const float kBatteryHigh = 3.6f;
const float kBatteryLow = 2.5f;

const QColor kNoValue(200, 200, 200);
const QColor kNoBattery(255, 50, 50);

bool numeric(const QVariant& stored, float* value)
{
    if (stored.isNull())
        return false;
    bool ok = false;
    *value = stored.toFloat(&ok);
    return ok;
}

}  // namespace

MyModel::MyModel(QObject* parent)
    : QSqlQueryModel(parent)
    , columnKinds(50, Plain)
{
}

QVariant MyModel::displayText(int kind, const QVariant& stored, bool viewVoltage)
{
    float value = 0;
    const bool ok = numeric(stored, &value);
    switch (kind) {
    case Temperature:
    case Humidity:
        // A value that was not measured stays empty instead of a made-up 0.00.
        return ok ? QVariant(QString::number(value, 'f', 2)) : QVariant(QString());
    case Battery:
        if (viewVoltage)
            return QString::number(ok ? value : 0.0f, 'f', 2);
        if (!ok)
            return tr("Разряжена");
        if (value > kBatteryHigh)
            return tr("Неверные данные");
        if (value >= kBatteryLow)
            return tr("Заряжена");
        return tr("Требуется замена");
    default:
        return stored;
    }
}

MyModel::Limits MyModel::limitsFor(int kind, const QString& rowName, const AppState& config)
{
    for (const Sensor* s : config.sensors) {
        if (s->name == rowName && s->isEnabled) {
            if (kind == Temperature)
                return { s->tMinCritical, s->tMinNoncritical, s->tMaxNoncritical, s->tMaxCritical };
            return { s->hMinCritical, s->hMinNoncritical, s->hMaxNoncritical, s->hMaxCritical };
        }
    }
    if (kind == Temperature)
        return { config.TemperatureMinCritical, config.TemperatureMinWarning, config.TemperatureMaxWarning,
            config.TemperatureMaxCritical };
    return { config.WetnessMinCritical, config.WetnessMinWarning, config.WetnessMaxWarning, config.WetnessMaxCritical };
}

QVariant MyModel::background(int kind, const QVariant& stored, const Limits& limits, const AppState& config)
{
    float value = 0;
    const bool ok = numeric(stored, &value);
    if (kind == Battery)
        return ok ? QVariant() : QVariant(kNoBattery);
    if (kind != Temperature && kind != Humidity)
        return QVariant();
    if (!ok)
        return kNoValue;
    const bool t = kind == Temperature;
    if (value > limits.maxCritical)
        return t ? config.maximalCriticalTemperature : config.maximalCriticalHumidity;
    if (value > limits.maxWarning)
        return t ? config.maximalNonCriticalTemperature : config.maximalNonCriticalHumidity;
    if (value < limits.minCritical)
        return t ? config.minimalCriticalTemperature : config.minimalCriticalHumidity;
    if (value < limits.minWarning)
        return t ? config.minimalNonCriticalTemperature : config.minimalNonCriticalHumidity;
    return QVariant();
}

QVariant MyModel::data(const QModelIndex& index, int role) const
{
    const QVariant result = QSqlQueryModel::data(index, role);
    if ((role != Qt::DisplayRole && role != Qt::BackgroundRole) || !gAppState)
        return result;
    const int kind = index.column() < columnKinds.size() ? columnKinds[index.column()] : Plain;
    if (kind == Plain)
        return result;
    const QVariant stored = QSqlQueryModel::data(index, Qt::DisplayRole);
    if (role == Qt::DisplayRole)
        return displayText(kind, stored, gAppState->ViewVoltage);
    const QVariant colour = background(kind, stored,
        kind == Battery ? Limits() : limitsFor(kind, QSqlQueryModel::data(index.sibling(index.row(), 0)).toString(), *gAppState),
        *gAppState);
    return colour.isValid() ? colour : result;
}
