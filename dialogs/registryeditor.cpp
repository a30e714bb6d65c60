#include "dialogs/registryeditor.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "storage/registryedits.h"

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("DialogSensors", text);
}

QString warningTitle()
{
    return tr("Внимание");
}

// Database column behind each column of the sensors table; the EUI64 is the key, not a value.
const char* const kSensorColumns[RegistryEditor::SensorColumnCount] = { nullptr, "name", "sleepInterval", "location",
    "datecheck", "isEnabled", "tMinNoncritical", "tMaxNoncritical", "tMinCritical", "tMaxCritical", "hMinNoncritical",
    "hMaxNoncritical", "hMinCritical", "hMaxCritical", "isLowBattery", "isLostConnection" };

double Sensor::*const kThresholds[]
    = { &Sensor::tMinNoncritical, &Sensor::tMaxNoncritical, &Sensor::tMinCritical, &Sensor::tMaxCritical,
          &Sensor::hMinNoncritical, &Sensor::hMaxNoncritical, &Sensor::hMinCritical, &Sensor::hMaxCritical };

bool Sensor::*flagOf(int column)
{
    switch (column) {
    case RegistryEditor::ColumnEnabled:
        return &Sensor::isEnabled;
    case RegistryEditor::ColumnLowBattery:
        return &Sensor::isLowBattery;
    case RegistryEditor::ColumnLostConnection:
        return &Sensor::isLostConnection;
    default:
        return nullptr;
    }
}

const QString kDateFormat = QStringLiteral("yyyy.MM.dd");

} // namespace

RegistryEditor::RegistryEditor(AppState& state, Runner runner, QObject* parent)
    : QObject(parent)
    , state(state)
    , runner(std::move(runner))
{
}

RegistryEditor::Runner RegistryEditor::writerOf(AppState& state)
{
    return [&state](DatabaseWriter::Job job, DatabaseWriter::Done done) {
        if (state.databaseWriter)
            state.databaseWriter->enqueueJob(std::move(job), std::move(done));
        else
            done(false, tr("база данных не открыта"));
    };
}

QString RegistryEditor::intervalText(int seconds)
{
    // A day wraps to 00:00, as the time editor shows it.
    return QTime(0, 0).addSecs(seconds).toString(QStringLiteral("HH:mm"));
}

QString RegistryEditor::thresholdText(double value)
{
    return QString::number(value, 'f', 2);
}

QString RegistryEditor::flagText(bool set)
{
    return set ? tr("Вкл.") : tr("Выкл.");
}

QString RegistryEditor::dateText(const QDate& date)
{
    return date.isValid() ? date.toString(kDateFormat) : QString();
}

QStringList RegistryEditor::sensorTexts(int row) const
{
    const Sensor* s = state.sensors.value(row);
    if (!s)
        return {};
    QStringList texts { s->EUI64, s->name, intervalText(s->sleepInterval), state.locationName(s->location),
        dateText(s->datecheck), flagText(s->isEnabled) };
    for (double Sensor::*field : kThresholds)
        texts << thresholdText(s->*field);
    texts << flagText(s->isLowBattery) << flagText(s->isLostConnection);
    return texts;
}

QStringList RegistryEditor::locationTexts(int row) const
{
    const Location* l = state.locations.value(row);
    return l ? QStringList { l->name, l->ip, l->EUI64 } : QStringList();
}

bool RegistryEditor::isChoiceColumn(int column)
{
    return column == ColumnLocation || flagOf(column);
}

QVariant RegistryEditor::sensorChoice(int row, int column) const
{
    const Sensor* s = state.sensors.value(row);
    if (!s || !isChoiceColumn(column))
        return QVariant();
    return column == ColumnLocation ? s->location : int(s->*flagOf(column));
}

void RegistryEditor::warnFailed(const QString& error) const
{
    prompt()->warning(warningTitle(), tr("Изменение не записано в базу данных:\n%1").arg(error));
}

void RegistryEditor::run(DatabaseWriter::Job job, std::function<void(bool ok)> then, bool structural)
{
    if (structural && structuralPending++ == 0)
        emit busyChanged(true);
    // The dialog may be gone when the writer answers (shutdown); then nothing is shown.
    QPointer<RegistryEditor> self(this);
    runner(std::move(job), [self, then, structural](bool ok, const QString& error) {
        if (!self)
            return;
        if (structural && --self->structuralPending == 0)
            emit self->busyChanged(false);
        if (!ok)
            self->warnFailed(error);
        then(ok);
    });
}

void RegistryEditor::editSensor(int row, int column, const QVariant& value)
{
    Sensor* sensor = state.sensors.value(row);
    if (!sensor || column <= ColumnEUI || column >= SensorColumnCount)
        return;
    if (isBusy()) {
        emit sensorChanged(row);
        return;
    }
    QVariant stored;
    bool ok = true;
    if (column == ColumnName) {
        stored = value.toString();
    } else if (column == ColumnInterval) {
        const QTime time = QTime::fromString(value.toString(), QStringLiteral("HH:mm"));
        const int seconds = time.isValid() ? time.hour() * 3600 + time.minute() * 60 : 0;
        // A sensor told to sleep 0 s would never sleep: the editor's lowest value is one minute.
        ok = seconds > 0;
        stored = seconds;
    } else if (column == ColumnLocation) {
        const int location = value.toInt(&ok);
        ok = ok && state.isValidLocation(location);
        stored = location;
    } else if (column == ColumnDateCheck) {
        const QDate date = QDate::fromString(value.toString(), kDateFormat);
        ok = date.isValid();
        stored = dateText(date);
    } else if (flagOf(column)) {
        stored = int(value.toInt(&ok) != 0);
    } else {
        // Stored as shown: two decimals, whatever the editor or the cell held.
        const double number = value.toDouble(&ok);
        ok = ok && std::isfinite(number);
        stored = thresholdText(number).toDouble();
    }
    if (!ok) {
        emit sensorChanged(row);
        return;
    }
    const QVariant old = fieldValue(*sensor, column);
    setField(*sensor, column, stored);
    sensorEdited(row, column);
    const QString eui64 = sensor->EUI64;
    run(
        RegistryEdits::updateSensor(eui64, QLatin1String(kSensorColumns[column]), stored),
        [this, eui64, column, old, stored](bool committed) {
            // Found again by its address: rows may have moved since the edit was made.
            const int index = state.indexOfSensor(eui64);
            if (committed || index < 0)
                return;
            // A later change (the intake moving the sensor) is written after this one.
            Sensor* s = state.sensors[index];
            if (fieldValue(*s, column) != stored)
                return;
            setField(*s, column, old);
            sensorEdited(index, column);
        },
        false);
}

QVariant RegistryEditor::fieldValue(const Sensor& s, int column)
{
    switch (column) {
    case ColumnName:
        return s.name;
    case ColumnInterval:
        return s.sleepInterval;
    case ColumnLocation:
        return s.location;
    case ColumnDateCheck:
        return dateText(s.datecheck);
    default:
        if (bool Sensor::*flag = flagOf(column))
            return int(s.*flag);
        return s.*kThresholds[column - ColumnFirstThreshold];
    }
}

void RegistryEditor::setField(Sensor& s, int column, const QVariant& value)
{
    switch (column) {
    case ColumnName:
        s.name = value.toString();
        break;
    case ColumnInterval:
        s.sleepInterval = value.toInt();
        break;
    case ColumnLocation:
        s.location = value.toInt();
        break;
    case ColumnDateCheck:
        s.datecheck = QDate::fromString(value.toString(), kDateFormat);
        break;
    default:
        if (bool Sensor::*flag = flagOf(column))
            s.*flag = value.toInt() != 0;
        else
            s.*kThresholds[column - ColumnFirstThreshold] = value.toDouble();
    }
}

void RegistryEditor::sensorEdited(int row, int column)
{
    emit sensorChanged(row);
    if (column == ColumnName || column == ColumnLocation || column == ColumnDateCheck)
        emit treeChanged();
    else if (column >= ColumnEnabled)
        emit lookChanged();
    if (column == ColumnInterval)
        emit sleepIntervalChanged(state.sensors[row], state.sensors[row]->sleepInterval);
}

void RegistryEditor::renameLocation(int row, const QString& name)
{
    Location* location = state.locations.value(row);
    if (!location)
        return;
    // A gateway's location keeps the name the gateway gave it.
    if (isBusy() || !location->ip.isEmpty()) {
        emit locationChanged(row);
        return;
    }
    const QString old = location->name;
    location->name = name;
    emit locationChanged(row);
    emit treeChanged();
    run(
        RegistryEdits::renameLocation(row, name),
        [this, location, old, name](bool committed) {
            const int index = state.locations.indexOf(location);
            if (committed || index < 0 || location->name != name)
                return;
            location->name = old;
            emit locationChanged(index);
            emit treeChanged();
        },
        false);
}

void RegistryEditor::addLocation()
{
    if (isBusy())
        return;
    // The id is the list's length: the row and the record join their lists together.
    auto* location = new Location;
    location->name = tr("Помещение");
    const int id = state.locations.size();
    state.locations.append(location);
    emit locationAdded(id);
    emit treeChanged();
    run(
        RegistryEdits::insertLocation(id, location->name),
        [this, location](bool committed) {
            const int index = state.locations.indexOf(location);
            if (committed || index < 0)
                return;
            const bool followed = index + 1 < state.locations.size();
            delete state.locations.takeAt(index);
            bool moved = false;
            for (Sensor* s : qAsConst(state.sensors)) {
                if (s->location >= index) {
                    s->location = s->location == index ? 0 : s->location - 1;
                    moved = true;
                }
            }
            // Locations appended behind it were stored with the ids they had then.
            if (followed || moved)
                rewriteLocationsFrom(index);
            emit treeChanged();
            emit rowsRemoved();
        },
        true);
}

void RegistryEditor::removeSensor(int row)
{
    Sensor* sensor = state.sensors.value(row);
    if (!sensor || isBusy())
        return;
    const Location* location = state.locations.value(sensor->location);
    if (location && !location->ip.isEmpty()) {
        prompt()->warning(warningTitle(), tr("Нельзя удалить датчик подключенный к удаленному клиенту"));
        return;
    }
    // Out of the registry now: what it sends from here on registers it anew, behind the
    // removal in the writer's queue, and is stored under that new row.
    state.sensors.removeAt(row);
    emit treeChanged();
    emit rowsRemoved();
    // Kept until the outcome is known, to be put back when the removal fails.
    auto held = std::make_shared<std::unique_ptr<Sensor>>(sensor);
    run(
        RegistryEdits::removeSensor(sensor->EUI64),
        [this, row, held](bool committed) {
            if (!committed)
                restoreSensor(row, held->release());
        },
        true);
}

void RegistryEditor::restoreSensor(int row, Sensor* sensor)
{
    // Registered anew meanwhile: that registration found the old row still there and stored
    // no row of its own, so the old record takes its place again; a move it made is undone.
    const int again = state.indexOfSensor(sensor->EUI64);
    if (again >= 0) {
        delete state.sensors.takeAt(again);
        run(
            RegistryEdits::updateSensor(sensor->EUI64, QStringLiteral("location"), sensor->location), [](bool) {},
            false);
    }
    state.sensors.insert(qMin(row, state.sensors.size()), sensor);
    emit treeChanged();
    emit rowsRemoved();
}

void RegistryEditor::removeLocation(int row)
{
    // Asked again after the question: the list may have changed and a gateway may have
    // connected while it was open.
    auto refused = [this, row]() {
        const Location* location = state.locations.value(row);
        if (!location || state.locations.size() < 2 || isBusy())
            return true;
        if (location->client) {
            prompt()->warning(warningTitle(),
                tr("Данный клиент сейчас подсоеденён к серверу.\nНевозможно удалить это помещение из списка"));
            return true;
        }
        return false;
    };
    if (refused())
        return;
    const bool hasSensors = std::any_of(
        state.sensors.cbegin(), state.sensors.cend(), [row](const Sensor* s) { return s->location == row; });
    if (hasSensors
        && !prompt()->confirm(warningTitle(),
            tr("С данным помещением ассоциированы датчики.\nПри удалении этого помещения из списка\nвсе его датчики "
               "будут ассоциированы с 1-ым помещением")))
        return;
    if (refused())
        return;
    // Out of the registry now, so that no gateway binds to it and every write queued from here
    // on uses the new numbering, behind the removal.
    const RegistryEdits::SensorLocations before = sensorLocations();
    Location* location = state.locations.takeAt(row);
    for (Sensor* s : qAsConst(state.sensors)) {
        if (s->location == row)
            s->location = 0;
        else if (s->location > row)
            --s->location;
    }
    const RegistryEdits::SensorLocations after = sensorLocations();
    const int locationsAfter = state.locations.size();
    emit treeChanged();
    emit rowsRemoved();
    auto held = std::make_shared<std::unique_ptr<Location>>(location);
    run(
        RegistryEdits::removeLocation(row, after),
        [this, row, held, before, after, locationsAfter](bool committed) {
            if (!committed)
                restoreLocation(row, held->release(), before, after, locationsAfter);
        },
        true);
}

void RegistryEditor::restoreLocation(int row, Location* location, const RegistryEdits::SensorLocations& before,
    const RegistryEdits::SensorLocations& after, int locationsAfter)
{
    // Whatever was queued meanwhile used the numbering without it.
    const bool changedMeanwhile = state.locations.size() != locationsAfter || sensorLocations() != after;
    state.locations.insert(row, location);
    QHash<QString, QPair<int, int>> was; // EUI64 -> location before and after the removal
    for (int i = 0; i < before.size(); ++i)
        was.insert(before[i].first, { before[i].second, after[i].second });
    for (Sensor* s : qAsConst(state.sensors)) {
        const auto it = was.constFind(s->EUI64);
        if (it != was.cend() && s->location == it->second)
            s->location = it->first;
        else if (s->location >= row)
            ++s->location;
    }
    if (changedMeanwhile)
        rewriteLocationsFrom(row);
    emit treeChanged();
    emit rowsRemoved();
}

RegistryEdits::SensorLocations RegistryEditor::sensorLocations() const
{
    RegistryEdits::SensorLocations all;
    all.reserve(state.sensors.size());
    for (const Sensor* s : state.sensors)
        all.append({ s->EUI64, s->location });
    return all;
}

void RegistryEditor::rewriteLocationsFrom(int first)
{
    QVector<RegistryEdits::LocationRow> rows;
    for (int i = first; i < state.locations.size(); ++i) {
        const Location* l = state.locations[i];
        rows.append({ l->name, l->EUI64, l->ip });
    }
    run(
        RegistryEdits::rewriteLocations(first, rows, sensorLocations()), [](bool) {}, false);
}
