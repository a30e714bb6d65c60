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

// All that sensor() reads, as it stands at a moment: equal sources give equal looks, so a row
// whose source has not changed since it was decorated needs no look made.
struct Source {
    bool silent = false;
    bool online = false;
    bool calibrationDue = false;
    qint64 silentFor = 0; // seconds, while silent
    bool hasTemperature = false;
    bool hasWetness = false;
    double temperature = 0;
    double wetness = 0;
    double limits[8] = {};
    bool operator==(const Source& other) const;
    bool operator!=(const Source& other) const { return !(*this == other); }
};
Source sensorSource(const Sensor& sensor, const AppState& config, qint64 nowMs);

// A room served by a gateway: its connection state. Rooms of the local modem keep their look.
ItemLook gatewayLocation(const Location& location);
// A sensor: silent (red) once BreakInterval seconds have passed since it was last heard,
// otherwise coloured by its last values against its thresholds.
ItemLook sensor(const Sensor& sensor, const AppState& config, qint64 nowMs);
// "Датчик не выходил на связь" with the silence in hours, minutes and seconds.
QString silenceText(qint64 elapsedSeconds);
// The next check (a year after the last one) is less than 60 days away, or already past.
bool calibrationDue(const QDate& today, const QDate& datecheck);
// Repeaters are the full-function devices of the modem's node list.
int repeaterCount(const QVector<ModemNode>& nodes);

} // namespace SensorTreeLook
