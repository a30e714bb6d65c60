#pragma once

#include <QVector>

class AppState;
struct Sensor;

// Kinds of a measured value.
enum MeasureKind { KindTemperature = 1, KindHumidity = 2, KindBattery = 3 };

// The alarm events (types 2 to 10) that one value raises, in the order they are reported.
// Thresholds are the sensor's own when it uses them, else the configured ones; bounds are
// strict, a value that is not a number raises nothing, and nothing is raised while alarm
// mail is off.
QVector<int> thresholdEvents(const AppState& config, const Sensor& sensor, double value, int kind);

// Whether a sensor silent for `silenceSeconds` raises the lost-contact event (type 11).
bool lostContactEvent(const AppState& config, const Sensor& sensor, qint64 silenceSeconds);
