#include "dialogs/registryeditor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTime>

#include <algorithm>
#include <cmath>

#include "app/appstate.h"
#include "app/prompt.h"
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
    std::function<void(Sensor&)> apply;
    bool tree = false;
    bool interval = false;
    bool ok = true;
    if (column == ColumnName) {
        const QString name = value.toString();
        stored = name;
        apply = [name](Sensor& s) { s.name = name; };
        tree = true;
    } else if (column == ColumnInterval) {
        const QTime time = QTime::fromString(value.toString(), QStringLiteral("HH:mm"));
        const int seconds = time.isValid() ? time.hour() * 3600 + time.minute() * 60 : 0;
        // A sensor told to sleep 0 s would never sleep: the editor's lowest value is one minute.
        ok = seconds > 0;
        stored = seconds;
        apply = [seconds](Sensor& s) { s.sleepInterval = seconds; };
        interval = true;
    } else if (column == ColumnLocation) {
        const int location = value.toInt(&ok);
        ok = ok && state.isValidLocation(location);
        stored = location;
        apply = [location](Sensor& s) { s.location = location; };
        tree = true;
    } else if (column == ColumnDateCheck) {
        const QDate date = QDate::fromString(value.toString(), kDateFormat);
        ok = date.isValid();
        stored = dateText(date);
        apply = [date](Sensor& s) { s.datecheck = date; };
        tree = true;
    } else if (bool Sensor::*flag = flagOf(column)) {
        const bool set = value.toInt(&ok) != 0;
        stored = int(set);
        apply = [flag, set](Sensor& s) { s.*flag = set; };
    } else {
        // Stored as shown: two decimals, whatever the editor or the cell held.
        const double number = value.toDouble(&ok);
        ok = ok && std::isfinite(number);
        const double rounded = thresholdText(number).toDouble();
        double Sensor::*field = kThresholds[column - ColumnFirstThreshold];
        stored = rounded;
        apply = [field, rounded](Sensor& s) { s.*field = rounded; };
    }
    if (!ok) {
        emit sensorChanged(row);
        return;
    }
    const QString eui64 = sensor->EUI64;
    run(
        RegistryEdits::updateSensor(eui64, QLatin1String(kSensorColumns[column]), stored),
        [this, eui64, apply, tree, interval](bool committed) {
            // Found again by its address: rows may have moved since the edit was made.
            const int index = state.indexOfSensor(eui64);
            if (index < 0)
                return;
            Sensor* s = state.sensors[index];
            if (committed)
                apply(*s);
            emit sensorChanged(index);
            if (committed && tree)
                emit treeChanged();
            if (committed && interval)
                emit sleepIntervalChanged(s, s->sleepInterval);
        },
        false);
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
    run(
        RegistryEdits::renameLocation(row, name),
        [this, location, name](bool committed) {
            const int index = state.locations.indexOf(location);
            if (index < 0)
                return;
            if (committed)
                location->name = name;
            emit locationChanged(index);
            if (committed)
                emit treeChanged();
        },
        false);
}

void RegistryEditor::addLocation()
{
    if (isBusy())
        return;
    // The id is the list's length now; the record joins the list only once its row exists.
    const int id = state.locations.size();
    const QString name = tr("Помещение");
    run(
        RegistryEdits::insertLocation(id, name),
        [this, name](bool committed) {
            if (!committed)
                return;
            auto* location = new Location;
            location->name = name;
            state.locations.append(location);
            emit locationAdded(state.locations.size() - 1);
            emit treeChanged();
        },
        true);
}

void RegistryEditor::removeSensor(int row)
{
    const Sensor* sensor = state.sensors.value(row);
    if (!sensor || isBusy())
        return;
    const Location* location = state.locations.value(sensor->location);
    if (location && !location->ip.isEmpty()) {
        prompt()->warning(warningTitle(), tr("Нельзя удалить датчик подключенный к удаленному клиенту"));
        return;
    }
    const QString eui64 = sensor->EUI64;
    run(
        RegistryEdits::removeSensor(eui64),
        [this, eui64](bool committed) {
            const int index = state.indexOfSensor(eui64);
            if (!committed || index < 0)
                return;
            delete state.sensors.takeAt(index);
            emit treeChanged();
            emit rowsRemoved();
        },
        true);
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
    const int locationsBefore = state.locations.size();
    const int sensorsBefore = state.sensors.size();
    run(
        RegistryEdits::removeLocation(row),
        [this, row, locationsBefore, sensorsBefore](bool committed) {
            if (committed)
                applyLocationRemoval(row, locationsBefore, sensorsBefore);
        },
        true);
}

void RegistryEditor::applyLocationRemoval(int id, int locationsBefore, int sensorsBefore)
{
    delete state.locations.takeAt(id);
    for (Sensor* s : qAsConst(state.sensors)) {
        if (s->location == id)
            s->location = 0;
        else if (s->location > id)
            --s->location;
    }
    // Locations and sensors that appeared while the removal was on its way were written with
    // the old numbering, after the renumbering: they are brought in line by a second job,
    // queued behind their own rows.
    QVector<QPair<int, int>> moved;
    for (int old = locationsBefore; old <= state.locations.size(); ++old)
        moved.append({ old, old - 1 });
    QVector<QPair<QString, int>> appended;
    for (int i = sensorsBefore; i < state.sensors.size(); ++i)
        appended.append({ state.sensors[i]->EUI64, state.sensors[i]->location });
    if (!moved.isEmpty() || !appended.isEmpty())
        run(
            RegistryEdits::renumber(moved, appended), [](bool) {}, false);
    emit treeChanged();
    emit rowsRemoved();
}
