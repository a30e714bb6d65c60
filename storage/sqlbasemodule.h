#pragma once

#include <QDate>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

#include "core/records.h"
#include "storage/databasewriter.h"
#include "storage/sqlquerybuilder.h"

class QTimerEvent;

// The database: the default connection, its schema, storage of measurements, the hourly
// purge, the registry load at start and the rows of the DBF export.
class SQLBaseModule : public QObject
{
    Q_OBJECT
public:
    explicit SQLBaseModule(QObject* parent = nullptr);
    ~SQLBaseModule() override;

    // Opens the database of the given type (0 SQLite file, 1 MySQL, 2 SQL Server through ODBC),
    // creates what is missing, purges, loads the registry into the lists given to setRegistry
    // and starts the purge timer. A failed open is said by signalStartFailed, then the module
    // asks the application to end with 114 or 115.
    void init(int type, QString hostname, QString username, QString password, QString database, int port);

    // The export rows on a connection of the caller's (the DBF export's own, in its thread).
    QSqlQuery exportQuery(const QSqlDatabase& connection) const;
    // A second connection to the same database for another thread; call it from that thread.
    static QSqlDatabase openSeparateConnection(const QString& connectionName);

    static double roundToHundredths(double x);
    // A check date as stored: a DATE value, or text "yyyy?MM?dd" with any non-digit separators.
    static QDate dateFromColumn(const QVariant& value);

    QSqlDatabase db;
    int dbType = SqlQueryBuilder::SQLite;
    QString dbHostname;
    QString dbUsername;
    QString dbPassword;
    QString dbName;
    int dbPort = 0;

    // The lists the registry is loaded into, appended to; set before init.
    void setRegistry(QVector<Sensor*>* sensors, QVector<Location*>* locations);

    // Interval of the purge timer; set before init.
    int purgeInterval = 3600000;
    // Days of measurements the purge keeps, asked at each purge; set before init. Without it,
    // or while it answers a negative number, nothing is purged.
    std::function<int()> daysSave;
    // Identifier of the running purge timer, 0 while none runs.
    int purgeTimerId = 0;
    // Time the writer is given at close to store what is still queued.
    int closeFlushMs = 15000;
    // The one writer of the database, on a connection of its own; the default connection
    // above is left to the readers of the GUI thread and writes nothing.
    DatabaseWriter* writer = nullptr;

signals:
    void signalCloseApplication(int code);
    // A line for the start-up window while a long start-up step runs.
    void signalSetInitInfoString(QString text);
    // A line for the status bar of the main window.
    void signalSetStatusText(QString text);
    // A warning for the user, shown in a box; the module goes on once it has been shown.
    void signalWarning(QString text);
    // The database could not be opened at start, naming it; signalCloseApplication follows.
    void signalStartFailed(QString text);
    // Whether the aggregates hold every stored measurement, and with their battery bounds.
    void signalAggregatesReady(bool ready, bool batteryBounds);
    // The writer began to run, or (nullptr) is about to be deleted.
    void signalWriterChanged(DatabaseWriter* writer);

public slots:
    void slotStopModule();
    // Hands the measurement to the writer, after every write queued before it; without a
    // writer (before the database is open, after it closed) the measurement is not stored.
    void slotSensorDataReceived(const PendingMeasurement& measurement);
    QSqlQuery slotExportDBF();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    // The SQLite file left its path or came back (DatabaseWriter::FileState): said in the
    // status bar, and in a box when it leaves.
    void writerFileState(int state);
    // Why the closed writer left measurements unwritten, for the close box.
    QString shortfallText(const DatabaseWriter& closed) const;
    bool fileAway = false;
    bool createTables();
    bool openAndLoad();
    bool openConnection(int failureCode);
    // The start-up error box, naming the database, then the request to end with the code.
    void failStart(int code, const QString& text);
    void runSchema(bool withLocationRow);
    void mendMySqlSchema();
    // A long start-up step on a connection of its own, its line in the start-up window.
    bool runStartStep(const QString& line, const std::function<bool(QSqlDatabase&, QString*)>& step, QString* error);
    // A file from before the graph read its periods from the index alone gets the wide index.
    void widenSensorTimeIndex();
    // Whether the aggregates are ready; `battery` whether with their battery bounds.
    bool buildAggregates(bool* battery);
    // The aggregates cannot be kept: summaries read "measure", the user is told once.
    void showAggregatesDropped(const QString& reason);
    // The writer's failure: a lasting one is shown once in a box until writing resumes.
    void showWriterFault(const QString& reason, bool lasting);
    // The module was stopped: a start-up step that lets events in may see a close meanwhile.
    bool stopped = false;
    bool aggregatesBoxShown = false;
    bool faultBoxShown = false;
    void purge();
    QVector<Sensor*>* registrySensors = nullptr;
    QVector<Location*>* registryLocations = nullptr;
    void loadSensors();
    void loadLocations();
};
