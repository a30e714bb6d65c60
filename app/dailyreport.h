#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <QVector>

#include "core/reportrequest.h"
#include "storage/xlsxsheet.h"

// The readings window of one day: 09:00:00 UTC of that date, two hours either side, both
// ends included, in Unix seconds. The windows do not depend on the time zone.
struct DayWindow {
    QDate day;
    qint64 low = 0;
    qint64 high = 0;
};

// The means of one window, built from its readings; absent values take no part, and a mean
// with no value is absent.
struct DayAverage {
    int temperatureCount = 0;
    int wetnessCount = 0;
    double temperatureSum = 0;
    double wetnessSum = 0;
    void add(const QVariant& temperature, const QVariant& wetness);
    void append(const DayAverage& other);
};

// The workbook "reportSensors.xlsx": one column per day of the period, four rows per chosen
// sensor (heading, "09:00", mean temperature, mean humidity), and the signature area.
class DailyReport
{
public:
    // Day columns begin at B, so a sheet holds this many days at most.
    static constexpr int kMaxDays = XlsxSheet::kMaxColumns - 1;
    // Half the window around 09:00 UTC.
    static constexpr qint64 kHalfWindow = 7200;

    // The start date lies after the end date (times of day do not count).
    static bool datesReversed(const ReportRequest& request);
    // Days of the period, both dates included; 0 when the dates are reversed.
    static qint64 dayCount(const ReportRequest& request);
    static DayWindow window(const QDate& day);
    // The windows of the day columns, at most kMaxDays of them.
    static QVector<DayWindow> windows(const ReportRequest& request);
    // Index of the window holding `time`, -1 when none does.
    static int windowOf(const QVector<DayWindow>& windows, qint64 time);
    static QVector<int> chosenSensors(const ReportRequest& request);
    // `averages` holds, for each chosen sensor in order, one entry per day column.
    static XlsxSheet sheet(const ReportRequest& request, const QVector<QVector<DayAverage>>& averages);
};
