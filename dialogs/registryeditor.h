#pragma once

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

#include "storage/databasewriter.h"
#include "storage/registryedits.h"

class AppState;
struct Location;
struct Sensor;

// What the sensors and locations dialog decides, apart from its widgets: the texts of its
// rows, which edits are written and which are refused. Like every other change of the
// registry (see AppState), a change is made in memory at once and its write queued on the
// ordered writer in the same step; a write that fails is undone in memory and said so.
class RegistryEditor : public QObject
{
    Q_OBJECT
public:
    // Hands a job to the database and, later, its outcome to `done` in this thread.
    using Runner = std::function<void(DatabaseWriter::Job, DatabaseWriter::Done)>;

    enum SensorColumn {
        ColumnEUI = 0,
        ColumnName = 1,
        ColumnInterval = 2,
        ColumnLocation = 3,
        ColumnDateCheck = 4,
        ColumnEnabled = 5,
        ColumnFirstThreshold = 6,
        ColumnLastThreshold = 13,
        ColumnLowBattery = 14,
        ColumnLostConnection = 15,
        SensorColumnCount = 16
    };

    RegistryEditor(AppState& state, Runner runner, QObject* parent = nullptr);
    // The state's ordered writer.
    static Runner writerOf(AppState& state);

    // Cell texts as the tables show them.
    static QString intervalText(int seconds);
    static QString thresholdText(double value);
    static QString flagText(bool set);
    static QString dateText(const QDate& date);
    QStringList sensorTexts(int row) const;
    QStringList locationTexts(int row) const;
    // The value behind a choice cell (location index, flag 0 or 1); invalid for other columns.
    QVariant sensorChoice(int row, int column) const;
    static bool isChoiceColumn(int column);

    // A location or sensor added or removed is still on its way to the database; until its
    // outcome is known no other change of the dialog is taken, since a failure moves rows back.
    bool isBusy() const { return structuralPending > 0; }

    // A cell of the sensors table now holds `value` (text, number or choice value).
    void editSensor(int row, int column, const QVariant& value);
    void renameLocation(int row, const QString& name);
    void addLocation();
    void removeSensor(int row);
    void removeLocation(int row);

signals:
    // The row of that sensor or location is to be shown again from memory: after a change,
    // a refusal or a failure that undid the change.
    void sensorChanged(int row);
    void locationChanged(int row);
    void locationAdded(int row);
    // Rows went away or came back and others moved: both tables are to be filled again.
    void rowsRemoved();
    // The main window rebuilds its sensor tree and its tables.
    void treeChanged();
    // A sensor's thresholds or flags changed: the main window draws its cells anew.
    void lookChanged();
    void sleepIntervalChanged(Sensor* sensor, int seconds);
    void busyChanged(bool busy);

private:
    void run(DatabaseWriter::Job job, std::function<void(bool ok)> then, bool structural);
    void warnFailed(const QString& error) const;
    // One column of a sensor as the database stores it.
    static QVariant fieldValue(const Sensor& s, int column);
    static void setField(Sensor& s, int column, const QVariant& value);
    void sensorEdited(int row, int column);
    void restoreSensor(int row, Sensor* sensor);
    void restoreLocation(int row, Location* location, const RegistryEdits::SensorLocations& before,
        const RegistryEdits::SensorLocations& after, int locationsAfter);
    RegistryEdits::SensorLocations sensorLocations() const;
    // Queues the locations from `first` on and every sensor's location as memory holds them.
    void rewriteLocationsFrom(int first);

    AppState& state;
    Runner runner;
    int structuralPending = 0;
};
