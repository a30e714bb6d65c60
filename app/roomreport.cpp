#include "app/roomreport.h"

#include <QObject>

namespace
{

constexpr qint64 kBatterySeconds = 900;
constexpr int kCalibrationWindowDays = 60;
const int kWidths[] = { 15, 18, 10, 11, 21, 26, 19 }; // columns B to H

} // namespace

QString reportFixed(bool present, double value)
{
    return present ? QString::number(value, 'f', 2) : QString();
}

void OutOfRangeCounter::add(qint64 time, double value)
{
    if (!seen) {
        seen = true;
        firstTime = time;
    }
    const bool out = value <= lower || value >= upper;
    if (!inside) {
        if (out) {
            stretchStart = time;
            inside = true;
        }
        return;
    }
    seconds += time - stretchStart;
    if (out)
        stretchStart = time;
    else
        inside = false;
}

void OutOfRangeCounter::append(const OutOfRangeCounter& later)
{
    if (!later.seen)
        return;
    // A stretch still open here ends or goes on at the later first row, as if fed in one go.
    if (inside)
        seconds += later.firstTime - stretchStart;
    if (!seen)
        firstTime = later.firstTime;
    seen = true;
    seconds += later.seconds;
    inside = later.inside;
    stretchStart = later.stretchStart;
}

void ValueSpan::append(const ValueSpan& other)
{
    if (other.count == 0)
        return;
    min = count ? qMin(min, other.min) : other.min;
    max = count ? qMax(max, other.max) : other.max;
    sum += other.sum;
    count += other.count;
}

void ValueSpan::add(double value)
{
    if (count == 0 || value < min)
        min = value;
    if (count == 0 || value > max)
        max = value;
    sum += value;
    ++count;
}

RoomSensorFigures::RoomSensorFigures(const ReportThresholds& global)
    : temperatureTime(global.value(3), global.value(0))
    , wetnessTime(global.value(7), global.value(4))
{
}

void RoomSensorFigures::add(qint64 time, const QVariant& t, const QVariant& h, const QVariant& b)
{
    if (!t.isNull()) {
        temperature.add(t.toDouble());
        temperatureTime.add(time, t.toDouble());
    }
    if (!h.isNull()) {
        wetness.add(h.toDouble());
        wetnessTime.add(time, h.toDouble());
    }
    if (!b.isNull())
        batteryTime.add(time, b.toDouble());
}

void RoomSensorFigures::append(const RoomSensorFigures& later)
{
    temperature.append(later.temperature);
    wetness.append(later.wetness);
    temperatureTime.append(later.temperatureTime);
    wetnessTime.append(later.wetnessTime);
    batteryTime.append(later.batteryTime);
}

QVector<int> RoomReport::sensorsToFigure(const ReportRequest& request)
{
    QVector<int> out;
    for (int i = 0; i < request.locationRows.size(); ++i) {
        if (!request.locationRows[i].checked)
            continue;
        for (int s = 0; s < request.sensors.size(); ++s) {
            if (request.sensors[s].location == i)
                out << s;
        }
    }
    return out;
}

QString RoomReport::durationText(qint64 seconds)
{
    const quint64 t = quint64(seconds);
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(t / 3600, 4, 10, zero)
        .arg((t % 3600) / 60, 2, 10, zero)
        .arg(t % 60, 2, 10, zero);
}

QString RoomReport::note(qint64 batterySeconds, const QDate& datecheck, const QDate& endDate)
{
    if (batterySeconds > kBatterySeconds)
        return QObject::tr("Замена эл.питания ");
    const QDate next = datecheck.addYears(1);
    const qint64 days = next.isValid() && endDate.isValid() ? endDate.daysTo(next) : 0;
    if (days < kCalibrationWindowDays)
        return QObject::tr("Поверка ") + next.toString(QStringLiteral("dd.MM.yy"));
    return QObject::tr("Нет");
}

XlsxSheet RoomReport::sheet(const ReportRequest& request, const QVector<RoomSensorFigures>& figures)
{
    XlsxSheet s(QStringLiteral("Sheet1"));
    // Each report starts from the same two looks, whichever reports ran before it.
    XlsxStyle mergeStyle;
    mergeStyle.centred = mergeStyle.verticallyCentred = true;
    XlsxStyle cellStyle;
    cellStyle.centred = true;
    const QString pattern = QStringLiteral("dd.MM.yyyy hh:mm:ss");

    s.write(1, 1, QObject::tr("Отчет о работе Tarnel"));
    s.merge({ 1, 1, 1, 4 }, mergeStyle);
    s.write(3, 1, QObject::tr("Объект"), cellStyle);
    s.write(4, 1, QObject::tr("Помещений"), cellStyle);
    s.write(4, 2, QString::number(request.locationRows.size()), cellStyle);
    s.write(4, 4, QObject::tr("Датчиков"), cellStyle);
    s.write(4, 5, QString::number(request.sensorRows.size()), cellStyle);
    s.write(6, 1, QObject::tr("За интервал времени"), cellStyle);
    s.write(6, 2, QStringLiteral("c"), cellStyle);
    s.write(6, 3, request.start.toString(pattern), cellStyle);
    s.write(7, 2, QObject::tr("по"), cellStyle);
    s.write(7, 3, request.end.toString(pattern), cellStyle);

    int r = 9;
    for (int i = 0; i < request.locationRows.size(); ++i) {
        if (!request.locationRows[i].checked)
            continue;
        s.write(r + 1, 1, QObject::tr("Помещение"));
        s.write(r + 1, 2, request.locationRows[i].text);
        cellStyle.thinBorder = mergeStyle.thinBorder = true;
        XlsxStyle headCell = cellStyle;
        XlsxStyle headMerge = mergeStyle;
        headCell.bold = headMerge.bold = true;
        auto head = [&](int row, int column, const QString& text, int mergeToRow, int mergeToColumn) {
            s.write(row, column, text, headCell);
            if (mergeToRow != row || mergeToColumn != column)
                s.merge({ row, column, mergeToRow, mergeToColumn }, headMerge);
        };
        head(r + 3, 1, QObject::tr("Датчики"), r + 4, 1);
        head(r + 3, 2, QObject::tr("tср, °С"), r + 4, 2);
        head(r + 3, 3, QObject::tr("RHср, %"), r + 4, 3);
        head(r + 3, 4, QObject::tr("max t, °С"), r + 3, 4);
        head(r + 4, 4, QObject::tr("min t, °С"), r + 4, 4);
        head(r + 3, 5, QObject::tr("max RH, %"), r + 3, 5);
        head(r + 4, 5, QObject::tr("min RH, %"), r + 4, 5);
        head(r + 3, 6, QObject::tr("События"), r + 3, 8);
        head(r + 4, 6, QObject::tr("Время tmin>tд>tmax"), r + 4, 6);
        head(r + 4, 7, QObject::tr("Время RHmin>RHд>RHmax"), r + 4, 7);
        head(r + 4, 8, QObject::tr("Примечания"), r + 4, 8);
        r += 5;

        for (int si = 0; si < request.sensors.size(); ++si) {
            const ReportSensor& sensor = request.sensors[si];
            if (sensor.location != i)
                continue;
            const RoomSensorFigures f = figures.value(si);
            auto pair = [&](int column, const QString& text) {
                s.write(r, column, text, cellStyle);
                s.merge({ r, column, r + 1, column }, mergeStyle);
            };
            s.write(r, 1, sensor.name);
            s.merge({ r, 1, r + 1, 1 }, mergeStyle);
            const bool hasT = f.temperature.count > 0;
            const bool hasH = f.wetness.count > 0;
            s.write(r, 4, reportFixed(hasT, f.temperature.max), cellStyle);
            s.write(r, 5, reportFixed(hasH, f.wetness.max), cellStyle);
            pair(2, reportFixed(hasT, f.temperature.sum / qMax(1, f.temperature.count)));
            pair(3, reportFixed(hasH, f.wetness.sum / qMax(1, f.wetness.count)));
            pair(6, durationText(f.temperatureTime.total()));
            pair(7, durationText(f.wetnessTime.total()));
            pair(8, note(f.batteryTime.total(), sensor.datecheck, request.end.date()));
            s.write(r + 1, 4, reportFixed(hasT, f.temperature.min), cellStyle);
            s.write(r + 1, 5, reportFixed(hasH, f.wetness.min), cellStyle);
            r += 2;
        }
    }

    s.write(r + 1, 1, QObject::tr("Отв. за Tarnel __________ /ФИО _______________________"));
    s.merge({ r + 1, 1, r + 1, 6 }, XlsxStyle());
    int longest = 0;
    for (int row = 1; row <= r; ++row)
        longest = qMax(longest, s.read(row, 1).size());
    s.setColumnWidth(1, 1, longest + 1);
    for (int c = 0; c < 7; ++c)
        s.setColumnWidth(c + 2, c + 2, kWidths[c]);
    return s;
}
