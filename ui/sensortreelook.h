#pragma once

#include <QColor>
#include <QDate>
#include <QString>
#include <QVector>

class AppState;
struct Location;
struct Sensor;
struct ModemNode;

// How an item of the sensor tree looks at a moment: colours, weight, tooltip, icon.
struct ItemLook {
    QColor background;
    QColor foreground;
    bool bold = false;
    QString toolTip;
    bool alertIcon = false;
    QString text; // set only where the state changes the text
};

namespace SensorTreeLook
{

// A room served by a gateway: its connection state. Rooms of the local modem keep their look.
ItemLook gatewayLocation(const Location& location);
// A sensor: silent (red) once BreakInterval seconds have passed since it was last heard,
// otherwise coloured by its last values against its thresholds. A few comparisons: its tool
// tip, which changes with every reading, is made apart (sensorToolTip) when it is asked for.
ItemLook sensor(const Sensor& sensor, const AppState& config, qint64 nowMs);
// How long it has been silent, its next check, or its last values.
QString sensorToolTip(const Sensor& sensor, const AppState& config, qint64 nowMs);
// "Датчик не выходил на связь" with the silence in hours, minutes and seconds.
QString silenceText(qint64 elapsedSeconds);
// The next check (a year after the last one) is less than 60 days away, or already past.
bool calibrationDue(const QDate& today, const QDate& datecheck);
// Repeaters are the full-function devices of the modem's node list.
int repeaterCount(const QVector<ModemNode>& nodes);

} // namespace SensorTreeLook
