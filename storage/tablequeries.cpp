#include "storage/tablequeries.h"

#include "storage/measureaggregates.h"
#include "storage/sqlquerybuilder.h"

namespace TableQueries
{

namespace
{

const qint64 kMinute = 60;
const qint64 kHour = 60 * kMinute;
const qint64 kDay = 24 * kHour;
const qint64 kWeek = 7 * kDay;
const qint64 kMonth = 4 * kWeek;
const qint64 kYear = 12 * kMonth;

const qint64 kRelative[]
    = { 1 * kMinute, 5 * kMinute, 10 * kMinute, 30 * kMinute, 1 * kHour, 4 * kHour, 8 * kHour, 12 * kHour, 1 * kDay,
          3 * kDay, 5 * kDay, 1 * kWeek, 2 * kWeek, 3 * kWeek, 1 * kMonth, 3 * kMonth, 6 * kMonth, 1 * kYear };

const char* const kLocationColumns[] = { "nam", "Tmin1", "Tmax1", "Tavg1", "Wmin1", "Wmax1", "Wavg1" };
const char* const kSensorColumns[] = { "nam", "Tmin", "Tmax", "Tavg", "Wmin", "Wmax", "Wavg", "bat" };
const char* const kMeasureColumns[] = { "sensors.name", "timemeasure", "temperature", "wetness", "battery" };

bool supported(int dbType)
{
    return dbType == SqlQueryBuilder::SQLite || dbType == SqlQueryBuilder::MySQL;
}

// Beyond this many checked sensors the pieces of the window read every sensor's buckets and
// the join below picks the checked ones, so that the bound values stay within the
// drivers' limits.
const int kFilteredPieces = 200;

// The per-sensor part shared by both summaries: one row per checked sensor with rows in the
// window, with its room and the battery of its last measurement. The averages are sums over
// counts, which is what avg() over the rows gives; a sensor without a value of a kind gets
// NULL for it. With every sensor checked no address is bound: the join with "sensors" is
// the whole condition.
Query perSensor(int dbType, const QStringList& checked, bool everySensor, qint64 first, qint64 last,
    const QString& leading, const QString& trailing)
{
    Query q;
    if (!supported(dbType))
        return q;
    QVariantList sensors;
    if (!everySensor) {
        for (const QString& eui : checked)
            sensors << eui;
    }
    const QString filter = !everySensor && checked.size() <= kFilteredPieces
        ? QStringLiteral(" IN (SELECT id FROM sensors WHERE EUI64") + inList(checked.size()) + QLatin1Char(')')
        : QString();
    const MeasureAggregates::SourceQuery source
        = MeasureAggregates::windowSource(dbType, first, last, filter, filter.isEmpty() ? QVariantList() : sensors);
    q.text = QStringLiteral("SELECT ") + leading
        + QStringLiteral(", min(a.tmin) Tmin, max(a.tmax) Tmax, sum(a.ts)/NULLIF(sum(a.tc),0) Tavg,"
                         " min(a.wmin) Wmin, max(a.wmax) Wmax, sum(a.ws)/NULLIF(sum(a.wc),0) Wavg")
        + trailing + QStringLiteral(" FROM sensors s INNER JOIN ") + source.text
        + QStringLiteral(" a ON s.id=a.sensor_id INNER JOIN last l ON s.id=l.sensor_id")
        + (everySensor ? QString() : QStringLiteral(" WHERE s.EUI64") + inList(checked.size()))
        + QStringLiteral(" GROUP BY s.id");
    q.values = source.values + sensors;
    return q;
}

} // namespace

qint64 relativeSeconds(int index)
{
    const int count = int(sizeof kRelative / sizeof kRelative[0]);
    return index >= 0 && index < count ? kRelative[index] : 0;
}

TimeFilter relativeFilter(qint64 nowSeconds, int comboIndex)
{
    return { QStringLiteral("m.timemeasure>=?"), { nowSeconds - relativeSeconds(comboIndex) } };
}

TimeFilter rangeFilter(qint64 startSeconds, qint64 endSeconds)
{
    return { QStringLiteral("(m.timemeasure>=? AND m.timemeasure<=?)"), { startSeconds, endSeconds } };
}

QString inList(int count)
{
    if (count <= 0)
        return QStringLiteral(" IN (NULL)");
    QString list = QStringLiteral(" IN (?");
    for (int i = 1; i < count; ++i)
        list += QStringLiteral(",?");
    return list + QLatin1Char(')');
}

QString orderClause(Table table, int section, bool ascendingIndicator)
{
    const char* const* columns = table == Locations ? kLocationColumns
        : table == Sensors                          ? kSensorColumns
                                                    : kMeasureColumns;
    const int count = table == Locations ? 7 : table == Sensors ? 8 : 5;
    if (section < 0 || section >= count)
        return QString();
    return QStringLiteral(" ORDER BY ") + QLatin1String(columns[section])
        + (ascendingIndicator ? QStringLiteral(" DESC") : QString());
}

QString dateFormat(int dbType, int style)
{
    static const char* const sqlite[] = { "'%Y-%m-%d %H:%M:%S'", "'%m-%d %H:%M:%S'", "'%d %H:%M:%S'", "'%H:%M:%S'" };
    static const char* const mysql[] = { "'%Y-%m-%d %H:%i:%S'", "'%m-%d %H:%i:%S'", "'%d %H:%i:%S'", "'%H:%i:%S'" };
    if (style < 0 || style > 3)
        style = 0;
    return QLatin1String(dbType == SqlQueryBuilder::MySQL ? mysql[style] : sqlite[style]);
}

QString locationsQuery(int dbType, int checkedCount, const QString& timeCondition, const QString& order)
{
    if (!supported(dbType))
        return QString();
    return QStringLiteral(
               "SELECT l.name nam, min(Tmin) Tmin1, max(Tmax) Tmax1, avg(Tavg) Tavg1, min(Wmin) Wmin1, "
               "max(Wmax) Wmax1, avg(Wavg) Wavg1"
               " FROM locations l INNER JOIN"
               " (SELECT s.location loc, min(m.temperature) Tmin, max(m.temperature) Tmax, avg(m.temperature) Tavg,"
               " min(m.wetness) Wmin, max(m.wetness) Wmax, avg(m.wetness) Wavg"
               " FROM sensors s INNER JOIN measure m ON s.id=m.sensor_id INNER JOIN last l ON s.id=l.sensor_id"
               " WHERE s.EUI64")
        + inList(checkedCount) + QStringLiteral(" AND ") + timeCondition
        + QStringLiteral(" GROUP BY s.id) abc"
                         " ON l.id=abc.loc"
                         " GROUP BY l.id")
        + order;
}

QString sensorsQuery(int dbType, int checkedCount, const QString& timeCondition, const QString& order)
{
    if (!supported(dbType))
        return QString();
    return QStringLiteral(
               "SELECT s.name nam, min(m.temperature) Tmin, max(m.temperature) Tmax, avg(m.temperature) Tavg,"
               " min(m.wetness) Wmin, max(m.wetness) Wmax, avg(m.wetness) Wavg,"
               " l.battery bat, s.EUI64"
               " FROM sensors s INNER JOIN measure m ON s.id=m.sensor_id INNER JOIN last l ON s.id=l.sensor_id"
               " WHERE s.EUI64")
        + inList(checkedCount) + QStringLiteral(" AND ") + timeCondition + QStringLiteral(" GROUP BY s.id") + order;
}

namespace
{

QString measurementColumns(int dbType, int style)
{
    const QString time = dbType == SqlQueryBuilder::MySQL
        // FROM_UNIXTIME already gives the server's local time; converting it once more as if
        // it were UTC would shift every row by the zone's offset.
        ? QStringLiteral("DATE_FORMAT(FROM_UNIXTIME(timemeasure),") + dateFormat(dbType, style) + QLatin1Char(')')
        : QStringLiteral("strftime(") + dateFormat(dbType, style)
            + QStringLiteral(",timemeasure, 'unixepoch', 'localtime')");
    return QStringLiteral("SELECT sensors.name, ") + time
        + QStringLiteral(", temperature, wetness, battery, sensors.EUI64");
}

} // namespace

QString measurementsQuery(
    int dbType, int checkedCount, const QString& timeCondition, const QString& order, int style, int maxRows)
{
    if (!supported(dbType))
        return QString();
    // The tables are taken in the order written, so the rows come out already in the order
    // asked for and the row limit ends the reading: the sensors by name (index sensors_name on
    // SQLite), each with its rows through measure_sensor_time, or the rows by time through
    // measure_time. SQLite keeps the order of a CROSS JOIN, MySQL that of a STRAIGHT_JOIN. The
    // "+" keeps the sensor list from choosing the sensors by their EUI64 instead, which would
    // read every row of the window and sort them.
    const bool sqlite = dbType == SqlQueryBuilder::SQLite;
    QString from = QStringLiteral(" FROM sensors INNER JOIN measure m ON m.sensor_id=sensors.id WHERE sensors.EUI64");
    if (sqlite && (order.isEmpty() || order.contains(QLatin1String("sensors.name"))))
        from = QStringLiteral(" FROM sensors CROSS JOIN measure m ON m.sensor_id=sensors.id WHERE +sensors.EUI64");
    else if (order.contains(QLatin1String("timemeasure")))
        from = sqlite
            ? QStringLiteral(" FROM measure m CROSS JOIN sensors ON m.sensor_id=sensors.id WHERE +sensors.EUI64")
            : QStringLiteral(" FROM measure m FORCE INDEX (measure_time) STRAIGHT_JOIN sensors"
                             " ON m.sensor_id=sensors.id WHERE sensors.EUI64");
    return measurementColumns(dbType, style) + from + inList(checkedCount) + QStringLiteral(" AND ") + timeCondition
        + order + QStringLiteral(" LIMIT ") + QString::number(qMax(0, maxRows));
}

Query measurementsByValue(int dbType, const QStringList& checked, const QVariantList& filterValues, int section,
    bool ascendingIndicator, int style, int maxRows, bool batteryBounds)
{
    Query q;
    const int count = int(sizeof kMeasureColumns / sizeof kMeasureColumns[0]);
    if (section < 2 || section >= count)
        return q;
    const QString column = QLatin1String(kMeasureColumns[section]);
    qint64 first = 0;
    qint64 last = 0;
    windowOf(filterValues, &first, &last);
    QVariantList sensors;
    for (const QString& eui : checked)
        sensors << eui;
    const MeasureAggregates::SourceQuery source
        = MeasureAggregates::orderedRows(dbType, column, ascendingIndicator, first, last, maxRows,
            QStringLiteral(" IN (SELECT id FROM sensors WHERE EUI64") + inList(checked.size()) + QLatin1Char(')'),
            sensors, batteryBounds);
    if (source.text.isEmpty())
        return q;
    // Only the rows shown have their time written out.
    q.text = measurementColumns(dbType, style) + QStringLiteral(" FROM ") + source.text
        + QStringLiteral(" r CROSS JOIN sensors ON r.sensor_id=sensors.id")
        + orderClause(Measurements, section, ascendingIndicator);
    q.values = source.values;
    return q;
}

void windowOf(const QVariantList& filterValues, qint64* first, qint64* last)
{
    *first = filterValues.value(0).toLongLong();
    *last = filterValues.size() > 1 ? filterValues.at(1).toLongLong() : MeasureAggregates::kTimeLimit;
}

Query locationsSummary(
    int dbType, const QStringList& checked, qint64 first, qint64 last, const QString& order, bool everySensor)
{
    Query q = perSensor(dbType, checked, everySensor, first, last, QStringLiteral("s.location loc"), QString());
    if (q.text.isEmpty())
        return q;
    q.text = QStringLiteral("SELECT l.name nam, min(Tmin) Tmin1, max(Tmax) Tmax1, avg(Tavg) Tavg1, min(Wmin) Wmin1, "
                            "max(Wmax) Wmax1, avg(Wavg) Wavg1 FROM locations l INNER JOIN (")
        + q.text + QStringLiteral(") abc ON l.id=abc.loc GROUP BY l.id") + order;
    return q;
}

Query sensorsSummary(
    int dbType, const QStringList& checked, qint64 first, qint64 last, const QString& order, bool everySensor)
{
    Query q = perSensor(dbType, checked, everySensor, first, last, QStringLiteral("s.name nam"),
        QStringLiteral(", l.battery bat, s.EUI64"));
    if (!q.text.isEmpty())
        q.text += order;
    return q;
}

} // namespace TableQueries
