#include "app/measuredatareport.h"

#include <QDateTime>
#include <QObject>

namespace
{

const QString kPattern = QStringLiteral("dd.MM.yyyy hh:mm:ss");

QString localeFixed(const QVariant& value, const QLocale& locale)
{
    return value.isNull() ? QString() : locale.toString(value.toDouble(), 'f', 2);
}

} // namespace

XlsxStyle MeasureDataReport::rowStyle()
{
    XlsxStyle s;
    s.centred = s.thinBorder = true;
    return s;
}

QString MeasureDataReport::overflowNote()
{
    return QObject::tr("Лист заполнен: остальные измерения периода не поместились");
}

XlsxSheet MeasureDataReport::head(const ReportRequest& request, int index, const QLocale& locale)
{
    const ReportSensor& sensor = request.sensors[index];
    XlsxSheet s(request.sensorRows.value(index).text);
    XlsxStyle merge;
    merge.centred = merge.verticallyCentred = true;
    XlsxStyle boldMerge = merge;
    boldMerge.bold = true;
    XlsxStyle cell;
    cell.centred = true;
    XlsxStyle boldCell = cell;
    boldCell.bold = true;
    XlsxStyle label;
    label.thinBorder = true;
    XlsxStyle boxed = cell;
    boxed.thinBorder = true;
    XlsxStyle boldBoxed = boxed;
    boldBoxed.bold = true;
    XlsxStyle boldBoxedMerge = boldMerge;
    boldBoxedMerge.thinBorder = true;

    s.write(1, 1, QObject::tr("Данные измерений датчика Tarnel"));
    s.merge({ 1, 1, 1, 4 }, boldMerge);
    s.write(3, 1, QObject::tr("Датчик"), boldCell);
    s.write(4, 1, QStringLiteral("EUI64"), boldCell);
    s.write(3, 2, request.sensorRows.value(index).text, cell);
    s.write(4, 2, sensor.EUI64, cell);
    s.merge({ 3, 2, 3, 4 }, merge);
    s.merge({ 4, 2, 4, 4 }, merge);
    s.write(6, 1, QObject::tr("За интервал времени"), boldCell);
    s.write(6, 2, QStringLiteral("c"), boldCell);
    s.write(7, 2, QObject::tr("по"), boldCell);
    s.write(9, 1, QObject::tr("Граничные значение параметров"), boldCell);
    static const char* const kLabels[]
        = { "Tmin критическая, °C", "Tmin некритическая, °C", "Tmax некритическая, °C", "Tmax критическая, °C",
              "RHmin критическая, %", "RHmin некритическая, %", "RHmax некритическая, %", "RHmax критическая, %" };
    for (int k = 0; k < 8; ++k)
        s.write(10 + k, 1, QObject::tr(kLabels[k]), label);
    s.write(6, 3, request.start.toString(kPattern), cell);
    s.write(7, 3, request.end.toString(kPattern), cell);
    s.merge({ 6, 3, 6, 4 }, merge);
    s.merge({ 7, 3, 7, 4 }, merge);
    s.merge({ 9, 1, 9, 2 }, boldBoxedMerge);
    const ReportThresholds& limits = sensor.isEnabled ? sensor.thresholds : request.globalThresholds;
    for (int k = 0; k < 8; ++k)
        s.write(10 + k, 2, locale.toString(limits.value(k), 'f', 2), boxed);
    s.write(19, 1, QObject::tr("Время"), boldBoxed);
    s.write(19, 2, QStringLiteral("t, °C"), boldBoxed);
    s.write(19, 3, QStringLiteral("RH, %"), boldBoxed);
    s.setColumnWidth(1, 1, 26);
    return s;
}

QString LocalTimeText::operator()(qint64 time)
{
    const qint64 h = time >= 0 ? time / 3600 : (time - 3599) / 3600;
    if (h != hour) {
        hour = h;
        offset = QDateTime::fromSecsSinceEpoch(h * 3600).offsetFromUtc();
        // An hour with a change of the zone's offset in it is converted row by row.
        steady = QDateTime::fromSecsSinceEpoch(h * 3600 + 3599).offsetFromUtc() == offset;
    }
    if (!steady)
        return QDateTime::fromSecsSinceEpoch(time).toString(kPattern);
    return QDateTime::fromSecsSinceEpoch(time + offset, Qt::UTC).toString(kPattern);
}

QVector<QString> MeasureDataReport::row(
    LocalTimeText& times, qint64 time, const QVariant& temperature, const QVariant& wetness, const QLocale& locale)
{
    return { times(time), localeFixed(temperature, locale), localeFixed(wetness, locale) };
}
