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

namespace
{

// The title and what the report covers, rows 1 to 7.
void writeHead(XlsxSheet& s, const ReportRequest& request)
{
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
}

// The two head rows of a location's table, from row `r`.
void writeTableHead(XlsxSheet& s, int r)
{
    XlsxStyle headCell;
    headCell.bold = headCell.centred = headCell.thinBorder = true;
    XlsxStyle headMerge = headCell;
    headMerge.verticallyCentred = true;
    auto head = [&](int row, int column, const QString& text, int mergeToRow, int mergeToColumn) {
        s.write(row, column, text, headCell);
        if (mergeToRow != row || mergeToColumn != column)
            s.merge({ row, column, mergeToRow, mergeToColumn }, headMerge);
    };
    head(r, 1, QObject::tr("Датчики"), r + 1, 1);
    head(r, 2, QObject::tr("tср, °С"), r + 1, 2);
    head(r, 3, QObject::tr("RHср, %"), r + 1, 3);
    head(r, 4, QObject::tr("max t, °С"), r, 4);
    head(r + 1, 4, QObject::tr("min t, °С"), r + 1, 4);
    head(r, 5, QObject::tr("max RH, %"), r, 5);
    head(r + 1, 5, QObject::tr("min RH, %"), r + 1, 5);
    head(r, 6, QObject::tr("События"), r, 8);
    head(r + 1, 6, QObject::tr("Время tmin>tд>tmax"), r + 1, 6);
    head(r + 1, 7, QObject::tr("Время RHmin>RHд>RHmax"), r + 1, 7);
    head(r + 1, 8, QObject::tr("Примечания"), r + 1, 8);
}

// A sensor's two rows, from row `r`: the maxima above the minima, every other figure merged
// across both.
void writeSensorRows(XlsxSheet& s, const ReportSensor& sensor, const RoomSensorFigures& f, const QDate& end, int r)
{
    XlsxStyle cellStyle;
    cellStyle.centred = cellStyle.thinBorder = true;
    XlsxStyle mergeStyle = cellStyle;
    mergeStyle.verticallyCentred = true;
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
    pair(6, RoomReport::durationText(f.temperatureTime.total()));
    pair(7, RoomReport::durationText(f.wetnessTime.total()));
    pair(8, RoomReport::note(f.batteryTime.total(), sensor.datecheck, end));
    s.write(r + 1, 4, reportFixed(hasT, f.temperature.min), cellStyle);
    s.write(r + 1, 5, reportFixed(hasH, f.wetness.min), cellStyle);
}

} // namespace

XlsxSheet RoomReport::sheet(const ReportRequest& request, const QVector<RoomSensorFigures>& figures)
{
    XlsxSheet s(QStringLiteral("Sheet1"));
    writeHead(s, request);
    int r = 9;
    for (int i = 0; i < request.locationRows.size(); ++i) {
        if (!request.locationRows[i].checked)
            continue;
        s.write(r + 1, 1, QObject::tr("Помещение"));
        s.write(r + 1, 2, request.locationRows[i].text);
        writeTableHead(s, r + 3);
        r += 5;
        for (int si = 0; si < request.sensors.size(); ++si) {
            if (request.sensors[si].location != i)
                continue;
            writeSensorRows(s, request.sensors[si], figures.value(si), request.end.date(), r);
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
