#pragma once

#include <QString>
#include <QThread>

#include "storage/sqlquerybuilder.h"

class QSqlQuery;
class QTimer;
class DbfFileWriter;

// Timed export of the measurements to "export.dbf"; runs in a thread of its own.
// The application moves the object into its own thread: every slot runs there, and every
// setting arrives as a copy through a queued signal, so the export never reads a member of
// the GUI thread. The rows come through a connection of the export's own to the database.
class DbfExport : public QThread
{
    Q_OBJECT
public:
    explicit DbfExport(QObject* parent = nullptr);
    ~DbfExport() override;

    // The interval range the settings dialog offers, in minutes.
    static constexpr int kMinInterval = 5;
    static constexpr int kMaxInterval = 1440;
    static int clampInterval(int minutes);

    // Name of the export's own database connection.
    static QString connectionName();

    QTimer* timer = nullptr;
    // Length of one minute of the interval in milliseconds; tests shorten it. Set before
    // start().
    int minuteMs = 60000;

signals:
    void signalUpdateStatus(QString text);

public slots:
    void slotExportDBF();
    void slotStopModule();
    void slotSetInterval(int minutes);
    // "Other/ExportDBF" and "Other/PathExportDBF".
    void slotSetSettings(bool enabled, QString path);
    // The database the export reads, as SQLBaseModule::init was given it (type 0 SQLite
    // file, 1 MySQL, 2 SQL Server).
    void slotSetDatabase(int type, QString hostname, QString username, QString password, QString database, int port);

protected:
    void run() override;

private:
    // False with `problem` empty for a failure that has no explanation of its own.
    bool exportTo(const QString& folder, QString* problem);
    bool writeRows(QSqlQuery& query, DbfFileWriter& writer);

    int intervalMinutes = kMinInterval;
    bool exportEnabled = false;
    QString exportPath;
    int dbType = SqlQueryBuilder::SQLite;
    // The SQLite file or the ODBC connection string.
    QString dbDatabaseName;
};
