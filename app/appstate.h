#pragma once

#include <QColor>
#include <QHash>
#include <QString>
#include <QVector>

#include <memory>

#include "app/configreader.h"
#include "app/configtext.h"
#include "core/records.h"
#include "storage/sqlquerybuilder.h"

class DatabaseWriter;
class QObject;
class QSettings;
class SQLBaseModule;

// The configuration of "data/config.ini" and the registry of locations and sensors.
// The application object derives from it; tests and tools build one on its own.
//
// Who changes the registry, and when: whoever decides a change (the intake registering or
// moving a sensor, the gateway binding creating a location, the sensors dialog editing,
// adding or removing) makes it in memory at once, in the GUI thread, and in the same step
// queues its database write on the ordered writer. Memory is therefore always the registry
// as it will be once the queue is written, and every write is made in the numbering that
// memory had when it was queued: a reading queued after a change is stored after it, under
// the registry that change left. Nobody waits for a commit to change memory. Only the dialog
// learns the outcome of its writes; one that fails is undone in memory (unless a later change
// already replaced it, whose own write follows) and the database is brought in line behind it.
class AppState
{
public:
    AppState();
    virtual ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // Opens "data/config.ini" (relative to the working directory) and reads every key,
    // taking the default of a missing one. Never fails.
    bool loadConfig();
    // Opens "data/view.conf"; one that gave nothing it knows is copied aside first, and left
    // unopened (viewSettings null) when the copy failed.
    void openViewSettings();
    // The text of the warning shown once start-up has ended: the lines of the configuration that
    // were skipped or read as Windows-1251, every value that fell back to its default, a purge
    // that waits, and an unreadable view file. Empty when all was well.
    QString settingsWarning() const;
    // The text of the warning shown at start when "data/config.ini" could not be read; empty
    // when it was.
    QString configUnreadWarning() const;
    // Writes every key back, then announces the new settings. Does nothing while the
    // configuration was never loaded (start-up ended before that). A file held after a failed
    // copy is written only by the user's own save (`byUser`, the settings dialog).
    void saveConfig(bool byUser = false);
    // Makes the database module load the registry into this state and report here whether its
    // aggregates are ready and which writer runs; it keeps DaysSave of measurements. Before its
    // init. A state that goes first leaves the module purging nothing and telling no one.
    void followDatabase(SQLBaseModule& database);

    QColor colorByIndex(unsigned index) const;
    void setColorByIndex(unsigned index, const QColor& color);

    // Registry helpers: none of them reads past the end of a list.
    Sensor* findSensor(const QString& eui64) const;
    // Position of the sensor in `sensors`, -1 when none carries the address in any letter
    // case. Found through a hash that grows with appended sensors and is rebuilt when the
    // list's length or its last entry changed otherwise, or when a hit turns out stale (checked
    // against the list). An address that only a change in place brought into the list (a
    // sensor replaced or readdressed at its position, the length and the last entry unchanged)
    // is found once a look-up has met such a stale entry; the program changes the list by
    // appending, and by the sensors dialog's removals and their undo, which the checks above see.
    int indexOfSensor(const QString& eui64) const;
    // Whether two EUI64s name one device: they differ in letter case at most.
    static bool sameAddress(const QString& a, const QString& b);
    // Each sensor's address and sleep interval, in the registry's order.
    QVector<QPair<QString, int>> sleepIntervals() const;
    QString locationName(int index) const;
    bool isValidLocation(int index) const { return index >= 0 && index < locations.size(); }

    QString PortName;
    QVector<Location*> locations;
    QVector<Sensor*> sensors;

    double TemperatureMinCritical = 0;
    double TemperatureMinWarning = 0;
    double TemperatureMaxWarning = 0;
    double TemperatureMaxCritical = 0;
    double WetnessMinCritical = 0;
    double WetnessMinWarning = 0;
    double WetnessMaxWarning = 0;
    double WetnessMaxCritical = 0;
    double BatteryMinCritical = 0;
    double BatteryMinWarning = 0;
    int BreakInterval = 0;
    int MaxTableRows = 0;
    int DateTimeStyle = 0;
    int DaysSave = 0;
    quint16 NetworkPort = 0;
    QColor minimalNonCriticalHumidity;
    QColor minimalNonCriticalTemperature;
    QColor minimalCriticalHumidity;
    QColor minimalCriticalTemperature;
    QColor maximalNonCriticalHumidity;
    QColor maximalNonCriticalTemperature;
    QColor maximalCriticalHumidity;
    QColor maximalCriticalTemperature;
    QColor font;
    QColor node;
    QColor line;
    bool HideStart = false;
    bool TrayMessages = false;
    bool ViewVoltage = false;
    bool ExportDBF = false;
    int IntervalExportDBF = 0;
    QString PathExportDBF;
    QString Hostname;
    QString Username;
    QString Password;
    QString Database;
    int Port = 0;
    int DBType = SqlQueryBuilder::SQLite;
    bool isActive = false;
    QString serverSMTP;
    int serverPort = 0;
    QString serverLogin;
    QString serverPassword;
    QString notificationEmail;
    bool isMinCriticalTemperature = false;
    bool isMinNonCriticalTemperature = false;
    bool isMaxNonCriticalTemperature = false;
    bool isMaxCriticalTemperature = false;
    bool isMinCriticalHumidity = false;
    bool isMinNonCriticalHumidity = false;
    bool isMaxNonCriticalHumidity = false;
    bool isMaxCriticalHumidity = false;
    bool isSensorLost = false;
    bool isBatteryLow = false;
    // Set by the storage module once the per-sensor aggregates hold every stored measurement;
    // until then the summaries read "measure" alone. Without their battery bounds (an older
    // layout that could not be upgraded) the measurement table sorts the battery plainly.
    bool aggregatesReady = false;
    bool batteryBoundsReady = false;

    QSettings* configSettings = nullptr;
    // Set by loadConfig when an existing file gave nothing it knows; configSetAside is then
    // the copy kept beside it; without one the file is held, written by no save but the user's.
    bool configUnread = false;
    QString configSetAside;
    bool configHeld = false;
    // Values of the file that could not mean anything and were replaced by their defaults.
    QList<ConfigReader::Fallback> configFallbacks;
    // Lines of the file that could not be used, and keys read as Windows-1251.
    QVector<ConfigText::SkippedLine> configSkipped;
    QStringList configWindows1251;
    // Set by loadConfig when DaysSave is not the file's own value (missing, meaningless, or the
    // file unread): nothing is purged on a number the user never wrote until the user saves the
    // settings, and no other save writes it.
    bool purgeWaits = false;
    // Window and view state, "data/view.conf"; opened by the application object.
    QSettings* viewSettings = nullptr;
    bool viewUnread = false;
    QString viewSetAside;
    // The one ordered writer of the database, once it runs; every write goes through it.
    DatabaseWriter* databaseWriter = nullptr;
    // The type the database was opened with (a DBType saved since takes effect at the next
    // start); -1 until a writer runs.
    int openDBType = -1;

protected:
    // Called at the end of every saveConfig; the application object pushes the export
    // interval and the mail settings to their modules from here.
    virtual void configSaved() { }
    // Parent of the settings store; the application object passes itself.
    virtual QObject* settingsParent() { return nullptr; }

private:
    QColor* colorMember(unsigned index);
    void indexSensors() const;

    // The view store that openViewSettings made; a test may put a store of its own in its place.
    QSettings* ownViewSettings = nullptr;
    // Context of the database module's connections to this state, and the sign that it lives.
    std::unique_ptr<QObject> databaseLink;
    mutable QHash<QString, int> sensorIndex; // upper-case address -> position
    mutable int indexedSensors = -1;
    mutable const Sensor* indexedLast = nullptr;
    mutable QString indexedLastEui;
};

// The one configuration and registry of the process (the application object, or a test's own).
extern AppState* gAppState;
