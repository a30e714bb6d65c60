#include "app/dailyreport.h"

#include <QObject>
#include <QTimeZone>

#include "app/roomreport.h"

bool DailyReport::datesReversed(const ReportRequest& request)
{
    return request.start.date() > request.end.date();
}

qint64 DailyReport::dayCount(const ReportRequest& request)
{
    return datesReversed(request) ? 0 : request.start.date().daysTo(request.end.date()) + 1;
}

DayWindow DailyReport::window(const QDate& day)
{
    const qint64 reference = QDateTime(day, QTime(9, 0), Qt::UTC).toMSecsSinceEpoch() / 1000;
    return { day, reference - kHalfWindow, reference + kHalfWindow };
}

QVector<DayWindow> DailyReport::windows(const ReportRequest& request)
{
    const int n = int(qMin<qint64>(dayCount(request), kMaxDays));
    QVector<DayWindow> out;
    out.reserve(n);
    for (int j = 0; j < n; ++j)
        out << window(request.start.date().addDays(j));
    return out;
}

int DailyReport::windowOf(const QVector<DayWindow>& windows, qint64 time)
{
    if (windows.isEmpty() || time < windows.first().low)
        return -1;
    // The windows follow each other a day apart (UTC has no clock changes).
    const qint64 offset = time - windows.first().low;
    const qint64 day = offset / 86400;
    if (day >= windows.size() || offset - day * 86400 > 2 * kHalfWindow)
        return -1;
    return int(day);
}

void DayAverage::add(const QVariant& temperature, const QVariant& wetness)
{
    if (!temperature.isNull()) {
        temperatureSum += temperature.toDouble();
        ++temperatureCount;
    }
    if (!wetness.isNull()) {
        wetnessSum += wetness.toDouble();
        ++wetnessCount;
    }
}

void DayAverage::append(const DayAverage& other)
{
    temperatureCount += other.temperatureCount;
    wetnessCount += other.wetnessCount;
    temperatureSum += other.temperatureSum;
    wetnessSum += other.wetnessSum;
}

QVector<int> DailyReport::chosenSensors(const ReportRequest& request)
{
    QVector<int> out;
    for (int i = 0; i < request.sensorRows.size() && i < request.sensors.size(); ++i) {
        if (request.sensorRows[i].checked)
            out << i;
    }
    return out;
}

XlsxSheet DailyReport::sheet(const ReportRequest& request, const QVector<QVector<DayAverage>>& averages)
{
    XlsxSheet s(QStringLiteral("Sheet1"));
    XlsxStyle cell;
    cell.centred = cell.thinBorder = true;
    XlsxStyle boldCell = cell;
    boldCell.bold = true;
    XlsxStyle merge = cell;
    merge.verticallyCentred = true;
    XlsxStyle boldMerge = merge;
    boldMerge.bold = true;

    const qint64 days = dayCount(request);
    const int n = int(qMin<qint64>(days, kMaxDays));
    if (days > n)
        s.write(1, 1, QObject::tr("Показаны первые %1 дн. периода из %2").arg(n).arg(days));
    s.write(3, 1, QObject::tr("День"), boldCell);
    for (int j = 0; j < n; ++j)
        s.write(3, j + 2, QString::number(j + 1), boldCell);

    const QVector<int> chosen = chosenSensors(request);
    int r = 4;
    for (int b = 0; b < chosen.size(); ++b, r += 4) {
        s.write(r, 1, request.sensorRows[chosen[b]].text, boldCell);
        s.merge({ r, 1, r, n + 1 }, boldMerge);
        s.write(r + 1, 1, QObject::tr("Время"), boldCell);
        s.write(r + 2, 1, QStringLiteral("t, °C"), boldCell);
        s.write(r + 3, 1, QStringLiteral("RH, %"), boldCell);
        const QVector<DayAverage> row = averages.value(b);
        for (int j = 0; j < n; ++j) {
            const DayAverage a = row.value(j);
            s.write(r + 1, j + 2, QStringLiteral("09:00"), cell);
            s.write(r + 2, j + 2, reportFixed(a.temperatureCount > 0, a.temperatureSum / qMax(1, a.temperatureCount)),
                cell);
            s.write(r + 3, j + 2, reportFixed(a.wetnessCount > 0, a.wetnessSum / qMax(1, a.wetnessCount)), cell);
        }
    }

    // The merge look stays bold once a sensor block made it so.
    XlsxStyle footer = chosen.isEmpty() ? merge : boldMerge;
    footer.rotation = 90;
    s.write(r, 1, QObject::tr("Подпись, ФИО ответственного лица"), boldCell);
    for (int c = 1; c <= n + 1; ++c)
        s.merge({ r, c, r + 11, c }, footer);
    return s;
}
