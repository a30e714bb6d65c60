#include "app/thresholds.h"

#include <cmath>

#include "app/appstate.h"
#include "core/records.h"

namespace {

// The low-battery limit, in volts, as the sensors' firmware states it (single precision).
constexpr float kBatteryLowLimit = 2.5f;

struct Rule
{
    int type;
    bool AppState::*enabled;
    bool below;
    double Sensor::*own;
    double AppState::*global;
};

const Rule kTemperatureRules[] = {
    { NotifyTemperatureMinCritical, &AppState::isMinCriticalTemperature, true, &Sensor::tMinCritical,
        &AppState::TemperatureMinCritical },
    { NotifyTemperatureMinNoncritical, &AppState::isMinNonCriticalTemperature, true, &Sensor::tMinNoncritical,
        &AppState::TemperatureMinWarning },
    { NotifyTemperatureMaxNoncritical, &AppState::isMaxNonCriticalTemperature, false, &Sensor::tMaxNoncritical,
        &AppState::TemperatureMaxWarning },
    { NotifyTemperatureMaxCritical, &AppState::isMaxCriticalTemperature, false, &Sensor::tMaxCritical,
        &AppState::TemperatureMaxCritical },
};

const Rule kHumidityRules[] = {
    { NotifyWetnessMinCritical, &AppState::isMinCriticalHumidity, true, &Sensor::hMinCritical,
        &AppState::WetnessMinCritical },
    { NotifyWetnessMinNoncritical, &AppState::isMinNonCriticalHumidity, true, &Sensor::hMinNoncritical,
        &AppState::WetnessMinWarning },
    { NotifyWetnessMaxNoncritical, &AppState::isMaxNonCriticalHumidity, false, &Sensor::hMaxNoncritical,
        &AppState::WetnessMaxWarning },
    { NotifyWetnessMaxCritical, &AppState::isMaxCriticalHumidity, false, &Sensor::hMaxCritical,
        &AppState::WetnessMaxCritical },
};

}  // namespace

QVector<int> thresholdEvents(const AppState& config, const Sensor& sensor, double value, int kind)
{
    QVector<int> events;
    if (!config.isActive || std::isnan(value))
        return events;
    if (kind == KindBattery) {
        if (config.isBatteryLow && value < double(kBatteryLowLimit) && (!sensor.isEnabled || sensor.isLowBattery))
            events.append(NotifyBatteryLow);
        return events;
    }
    const Rule* rules = kind == KindTemperature ? kTemperatureRules : kind == KindHumidity ? kHumidityRules : nullptr;
    if (!rules)
        return events;
    for (int i = 0; i < 4; ++i) {
        const Rule& r = rules[i];
        if (!(config.*r.enabled))
            continue;
        const double limit = sensor.isEnabled ? sensor.*r.own : config.*r.global;
        if (r.below ? value < limit : value > limit)
            events.append(r.type);
    }
    return events;
}

bool lostContactEvent(const AppState& config, const Sensor& sensor, qint64 silenceSeconds)
{
    if (silenceSeconds <= config.BreakInterval)
        return false;
    // Gated like the other alarms: mail on, the lost-sensor switch on, and for a sensor with
    // its own settings, its own switch too.
    return config.isActive && config.isSensorLost && (!sensor.isEnabled || sensor.isLostConnection);
}
