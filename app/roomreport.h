#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <QVector>

#include "core/reportrequest.h"
#include "storage/xlsxsheet.h"

// Time a series spends out of its limits, fed row by row in time order. A value at or beyond a
// limit is out; a stretch counts from its first row out to the first row back within limits,
// or to its last row when the series ends out of limits.
class OutOfRangeCounter
{
public:
    OutOfRangeCounter(double upper = 0, double lower = 0)
        : upper(upper)
        , lower(lower)
    {
    }
    void add(qint64 time, double value);
    // Goes on with the rows of `later`, counted on their own from a later point in time.
    void append(const OutOfRangeCounter& later);
    qint64 total() const { return seconds; }

private:
    double upper;
    double lower;
    bool seen = false;
    qint64 firstTime = 0;
    bool inside = false;
    qint64 stretchStart = 0;
    qint64 seconds = 0;
};

// Smallest, largest and mean of the values present.
struct ValueSpan {
    int count = 0;
    double min = 0;
    double max = 0;
    double sum = 0;
    void add(double value);
    void append(const ValueSpan& other);
};

// One sensor's figures over the period, built from its rows in time order. An absent value
// takes no part in anything.
struct RoomSensorFigures {
    static constexpr double kBatteryUpper = 10.0;
    static constexpr double kBatteryLower = 2.3;

    RoomSensorFigures() = default;
    // The global critical limits decide the temperature and humidity times.
    explicit RoomSensorFigures(const ReportThresholds& global);
    void add(qint64 time, const QVariant& temperature, const QVariant& wetness, const QVariant& battery);
    // Goes on with the figures of a later stretch of time.
    void append(const RoomSensorFigures& later);

    ValueSpan temperature;
    ValueSpan wetness;
    OutOfRangeCounter temperatureTime;
    OutOfRangeCounter wetnessTime;
    OutOfRangeCounter batteryTime { kBatteryUpper, kBatteryLower };
};

// The workbook "reportRooms.xlsx": a head block, one table per checked location with two rows
// per sensor of it, and the signature line.
class RoomReport
{
public:
    // Sensors the report needs figures for, in the order it lists them.
    static QVector<int> sensorsToFigure(const ReportRequest& request);
    // The sheet; `figures` holds an entry for every sensor index of sensorsToFigure.
    static XlsxSheet sheet(const ReportRequest& request, const QVector<RoomSensorFigures>& figures);

    // "%1:%2:%3", at least four hour digits.
    static QString durationText(qint64 seconds);
    // Battery replacement, calibration due within 60 days of the period's end date, or "Нет".
    static QString note(qint64 batterySeconds, const QDate& datecheck, const QDate& endDate);
};

// Two decimals with a full stop whatever the locale; empty when there is no value.
QString reportFixed(bool present, double value);
