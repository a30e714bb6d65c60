#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

// Everything a report run reads, copied from the report dialog and the registry when Ok is
// pressed, so the run can go on in a thread of its own while the registry changes.

// One row of the dialog's location or sensor list.
struct ReportRow {
    QString text;
    bool checked = false;
};

// Threshold order of the measurement sheets: t min critical, t min non-critical, t max
// non-critical, t max critical, then the same four for the relative humidity.
using ReportThresholds = QVector<double>;

// The registry record of one sensor as the reports need it.
struct ReportSensor {
    QString EUI64;
    QString name;
    int location = 0;
    QDate datecheck;
    bool isEnabled = false;
    ReportThresholds thresholds; // the sensor's own eight
};

struct ReportRequest {
    bool rooms = false;
    bool daily = false;
    bool measureData = false;
    QDateTime start;
    QDateTime end;
    QVector<ReportRow> locationRows; // row i is location i
    QVector<ReportRow> sensorRows; // row i is sensor i
    QVector<ReportSensor> sensors; // sensor i of the registry
    ReportThresholds globalThresholds; // the eight of "DataWarning", in the order above

    // Whole seconds since the epoch, truncated toward zero (a time 1.5 s before the epoch gives -1).
    qint64 startBound() const { return start.toMSecsSinceEpoch() / 1000; }
    qint64 endBound() const { return end.toMSecsSinceEpoch() / 1000; }
};

// The text of a sensor's row in the dialog, which also heads its blocks and names its sheet:
// "Склад 1   (Цех,  EUI64= 000D6F0000ABCDEF)".
inline QString reportSensorRowText(const QString& name, const QString& location, const QString& eui64)
{
    return name + QStringLiteral("   (") + location + QStringLiteral(", ") + QStringLiteral(" EUI64= ") + eui64
        + QStringLiteral(")");
}
