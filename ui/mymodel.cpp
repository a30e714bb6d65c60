#include "ui/mymodel.h"

#include "app/appstate.h"

namespace
{

// Battery words compare the single-precision value, so a stored 3.6 is still charged.
const float kBatteryHigh = 3.6f;
const float kBatteryLow = 2.5f;

const QColor kNoValue(200, 200, 200);
const QColor kNoBattery(255, 50, 50);

bool numeric(const QVariant& stored, float* value)
{
    if (stored.isNull())
        return false;
    bool ok = false;
    *value = stored.toFloat(&ok);
    return ok;
}

} // namespace

MyModel::MyModel(int columns, QObject* parent)
    : QAbstractTableModel(parent)
    , columnKinds(50, Plain)
    , columns(columns)
{
}

int MyModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int MyModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant MyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        // The header shows the text given for editing, as a query model's header does.
        const QHash<int, QVariant> roles = headers.value(section);
        if (role == Qt::DisplayRole && !roles.contains(Qt::DisplayRole) && roles.contains(Qt::EditRole))
            return roles.value(Qt::EditRole);
        if (roles.contains(role))
            return roles.value(role);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool MyModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns)
        return false;
    headers[section][role] = value;
    emit headerDataChanged(orientation, section, section);
    return true;
}

namespace
{

// A row as one number, for counting which rows the other list still holds; rows of equal
// numbers are compared whole before they are taken for the same.
quint64 rowKey(const QVector<QVariant>& row)
{
    quint64 key = 1469598103934665603ULL;
    for (const QVariant& cell : row) {
        uint cellKey = 0x9e3779b9u;
        if (!cell.isNull()) {
            switch (cell.userType()) {
            case QMetaType::Double:
                cellKey = qHash(cell.toDouble());
                break;
            case QMetaType::Int:
            case QMetaType::LongLong:
                cellKey = qHash(cell.toLongLong());
                break;
            default:
                cellKey = qHash(cell.toString());
            }
        }
        key = (key ^ cellKey) * 1099511628211ULL;
    }
    return key;
}

} // namespace

bool MyModel::setRows(const QVector<QVector<QVariant>>& newRows)
{
    if (newRows == rows)
        return false;
    lookupStale = true;
    // One pass over both lists: a row the new list no longer holds goes, a row the old list
    // lacks comes in, any other difference is a row changed in place; the view then redraws
    // what changed and keeps its place.
    QHash<quint64, int> oldLeft;
    QHash<quint64, int> newLeft;
    // The keys of the rows shown are kept with them; a new row that shares its cells with the
    // row shown at its place (a reload hands unchanged rows on as they were) has its key.
    if (keys.size() != rows.size()) {
        keys.resize(rows.size());
        for (int i = 0; i < rows.size(); ++i)
            keys[i] = rowKey(rows[i]);
    }
    QVector<quint64> oldKeys = keys;
    QVector<quint64> newKeys(newRows.size());
    for (int i = 0; i < rows.size(); ++i)
        ++oldLeft[oldKeys[i]];
    for (int j = 0; j < newRows.size(); ++j) {
        const bool shared = j < rows.size() && newRows[j].constData() == rows[j].constData();
        ++newLeft[newKeys[j] = shared ? oldKeys[j] : rowKey(newRows[j])];
    }
    int i = 0;
    int j = 0;
    while (j < newRows.size()) {
        if (i < rows.size() && oldKeys[i] == newKeys[j] && rows[i] == newRows[j]) {
            // The row shown shares the new one's cells from now on, so that the next reload,
            // which hands it on again, finds its key without working it out.
            rows[i] = newRows[j];
            --oldLeft[oldKeys[i++]];
            --newLeft[newKeys[j++]];
            continue;
        }
        const bool gone = i < rows.size() && newLeft.value(oldKeys[i]) <= 0;
        const bool came = oldLeft.value(newKeys[j]) <= 0;
        if (gone && !came) {
            int end = i;
            while (end < rows.size() && newLeft.value(oldKeys[end]) <= 0)
                --oldLeft[oldKeys[end++]];
            beginRemoveRows(QModelIndex(), i, end - 1);
            rows.remove(i, end - i);
            oldKeys.remove(i, end - i);
            endRemoveRows();
        } else if (came && !gone) {
            int end = j;
            while (end < newRows.size() && oldLeft.value(newKeys[end]) <= 0)
                --newLeft[newKeys[end++]];
            beginInsertRows(QModelIndex(), i, i + end - j - 1);
            for (int k = j; k < end; ++k) {
                rows.insert(i + k - j, newRows[k]);
                oldKeys.insert(i + k - j, newKeys[k]);
            }
            endInsertRows();
            i += end - j;
            j = end;
        } else {
            // A row changed in place, or rows that both lists hold in another order.
            --oldLeft[oldKeys[i]];
            --newLeft[newKeys[j]];
            const QVector<QVariant> was = rows[i];
            rows[i] = newRows[j];
            oldKeys[i] = newKeys[j];
            rowChanged(i, was);
            ++i;
            ++j;
        }
    }
    if (i < rows.size()) {
        beginRemoveRows(QModelIndex(), i, rows.size() - 1);
        rows.resize(i);
        oldKeys.resize(i);
        endRemoveRows();
    }
    keys = oldKeys;
    return true;
}

void MyModel::rowChanged(int row, const QVector<QVariant>& was)
{
    const QVector<QVariant>& now = rows[row];
    if (was.value(0) != now.value(0) || was.value(columns) != now.value(columns)) {
        emit dataChanged(index(row, 0), index(row, columns - 1));
        return;
    }
    // A view repaints a single cell that changed alone, but its whole viewport for a range: a
    // summary's sensor whose means moved has those two cells repainted, not the table.
    for (int c = 1; c < columns; ++c) {
        if (was.value(c) != now.value(c))
            emit dataChanged(index(row, c), index(row, c));
    }
}

void MyModel::restyle()
{
    lookupStale = true;
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(rows.size() - 1, columns - 1));
}

QVariant MyModel::stored(int row, int column) const
{
    if (row < 0 || row >= rows.size() || column < 0 || column >= rows[row].size())
        return QVariant();
    return rows[row][column];
}

QVariant MyModel::displayText(int kind, const QVariant& stored, bool viewVoltage)
{
    float value = 0;
    const bool ok = numeric(stored, &value);
    switch (kind) {
    case Temperature:
    case Humidity:
        // A value that was not measured stays empty instead of a made-up 0.00.
        return ok ? QVariant(QString::number(value, 'f', 2)) : QVariant(QString());
    case Battery:
        if (viewVoltage)
            return QString::number(ok ? value : 0.0f, 'f', 2);
        if (!ok)
            return tr("Разряжена");
        if (value > kBatteryHigh)
            return tr("Неверные данные");
        if (value >= kBatteryLow)
            return tr("Заряжена");
        return tr("Требуется замена");
    default:
        return stored;
    }
}

namespace
{

MyModel::Limits sensorLimits(int kind, const Sensor& s)
{
    if (kind == MyModel::Temperature)
        return { s.tMinCritical, s.tMinNoncritical, s.tMaxNoncritical, s.tMaxCritical };
    return { s.hMinCritical, s.hMinNoncritical, s.hMaxNoncritical, s.hMaxCritical };
}

MyModel::Limits configuredLimits(int kind, const AppState& config)
{
    if (kind == MyModel::Temperature)
        return { config.TemperatureMinCritical, config.TemperatureMinWarning, config.TemperatureMaxWarning,
            config.TemperatureMaxCritical };
    return { config.WetnessMinCritical, config.WetnessMinWarning, config.WetnessMaxWarning, config.WetnessMaxCritical };
}

} // namespace

MyModel::Limits MyModel::limitsFor(int kind, const QString& rowName, const AppState& config)
{
    for (const Sensor* s : config.sensors) {
        if (s->name == rowName && s->isEnabled)
            return sensorLimits(kind, *s);
    }
    return configuredLimits(kind, config);
}

QVariant MyModel::background(int kind, const QVariant& stored, const Limits& limits, const AppState& config)
{
    float value = 0;
    const bool ok = numeric(stored, &value);
    if (kind == Battery)
        return ok ? QVariant() : QVariant(kNoBattery);
    if (kind != Temperature && kind != Humidity)
        return QVariant();
    if (!ok)
        return kNoValue;
    const bool t = kind == Temperature;
    if (value > limits.maxCritical)
        return t ? config.maximalCriticalTemperature : config.maximalCriticalHumidity;
    if (value > limits.maxWarning)
        return t ? config.maximalNonCriticalTemperature : config.maximalNonCriticalHumidity;
    if (value < limits.minCritical)
        return t ? config.minimalCriticalTemperature : config.minimalCriticalHumidity;
    if (value < limits.minWarning)
        return t ? config.minimalNonCriticalTemperature : config.minimalNonCriticalHumidity;
    return QVariant();
}

QVariant MyModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()
        || (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::BackgroundRole && role != Qt::ToolTipRole))
        return QVariant();
    const QVariant value = stored(index.row(), index.column());
    if (role == Qt::EditRole)
        return value;
    const int kind = index.column() < columnKinds.size() ? columnKinds[index.column()] : Plain;
    // A name wider than its column's ceiling is cut on screen; the tooltip shows it whole.
    if (role == Qt::ToolTipRole)
        return kind == Plain ? value : QVariant();
    if (kind == Plain || !gAppState)
        return role == Qt::DisplayRole ? value : QVariant();
    if (role == Qt::DisplayRole)
        return displayText(kind, value, gAppState->ViewVoltage);
    return background(kind, value, kind == Battery ? Limits() : rowLimits(kind, index.row(), *gAppState), *gAppState);
}

MyModel::Limits MyModel::rowLimits(int kind, int row, const AppState& config) const
{
    // Two sensors may carry one name: a row that names its sensor by address is judged by
    // that sensor alone.
    const QVariant address = stored(row, columns);
    if (!address.isNull()) {
        const Sensor* s = config.findSensor(address.toString());
        return s && s->isEnabled ? sensorLimits(kind, *s) : configuredLimits(kind, config);
    }
    const QString rowName = stored(row, 0).toString();
    const QVector<Sensor*>& sensors = config.sensors;
    if (lookupStale) {
        enabledByName.clear();
        for (int i = 0; i < sensors.size(); ++i) {
            if (sensors[i]->isEnabled && !enabledByName.contains(sensors[i]->name))
                enabledByName.insert(sensors[i]->name, i);
        }
        lookupStale = false;
    }
    const auto found = enabledByName.constFind(rowName);
    if (found == enabledByName.constEnd())
        return configuredLimits(kind, config);
    const int i = *found;
    // The registry changed since the rows came: ask it directly and look again next time.
    if (i >= sensors.size() || sensors[i]->name != rowName || !sensors[i]->isEnabled) {
        lookupStale = true;
        return limitsFor(kind, rowName, config);
    }
    return sensorLimits(kind, *sensors[i]);
}
