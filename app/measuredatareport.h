#pragma once

#include <QLocale>
#include <QString>
#include <QVariant>
#include <QVector>

#include <limits>

#include "core/reportrequest.h"
#include "storage/xlsxsheet.h"

// Local "dd.MM.yyyy hh:mm:ss" of times that mostly follow one another: the zone's offset is
// looked up twice an hour instead of for every row (each lookup may read the zone file).
class LocalTimeText
{
public:
    QString operator()(qint64 time);

private:
    qint64 hour = std::numeric_limits<qint64>::min();
    int offset = 0;
    bool steady = false;
};

// The workbook "reportSensorsMeasureData.xlsx": one sheet per chosen sensor with its heading,
// the interval, the eight thresholds in force and then every measurement of the interval.
class MeasureDataReport
{
public:
    // Measurements begin on this row.
    static constexpr int kFirstDataRow = 20;

    // The heading rows 1 to 19 of sensor `index`'s sheet, named after its row text.
    static XlsxSheet head(const ReportRequest& request, int index, const QLocale& locale);
    // One measurement row: local time, temperature and humidity in the locale's notation;
    // an absent value is an empty cell.
    static QVector<QString> row(
        LocalTimeText& times, qint64 time, const QVariant& temperature, const QVariant& wetness, const QLocale& locale);
    // The look of the measurement rows.
    static XlsxStyle rowStyle();
    // Written in place of the last row of a sheet that cannot hold every measurement.
    static QString overflowNote();
};
