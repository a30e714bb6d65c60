#include "storage/dbfexport.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include "storage/dbffilewriter.h"
#include "storage/dbfrecordformat.h"
#include "storage/failuretext.h"
#include "storage/sqlquerybuilder.h"

DbfExport::DbfExport(QObject* parent)
    : QThread(parent)
    , dbDatabaseName(SqlQueryBuilder::sqliteFileName())
{
}

DbfExport::~DbfExport() = default;

int DbfExport::clampInterval(int minutes)
{
    return qBound(kMinInterval, minutes, kMaxInterval);
}

QString DbfExport::connectionName()
{
    return QStringLiteral("dbfDatabase");
}

void DbfExport::run()
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &DbfExport::slotExportDBF);
    timer->start(intervalMinutes * minuteMs);
    exec();
}

void DbfExport::slotStopModule()
{
    if (timer) {
        timer->stop();
        delete timer;
        timer = nullptr;
    }
    exit(0);
}

void DbfExport::slotSetInterval(int minutes)
{
    intervalMinutes = clampInterval(minutes);
    // A running timer starts counting the new interval afresh.
    if (timer)
        timer->setInterval(intervalMinutes * minuteMs);
}

void DbfExport::slotSetSettings(bool enabled, QString path)
{
    exportEnabled = enabled;
    exportPath = path;
}

void DbfExport::slotSetDatabase(
    int type, QString hostname, QString username, QString password, QString database, int port)
{
    dbType = type;
    dbDatabaseName = SqlQueryBuilder::databaseName(type, hostname, username, password, database, port);
}

void DbfExport::slotExportDBF()
{
    if (!exportEnabled)
        return;
    // The export runs start to end without letting events in: a time-out or a stop request
    // that falls due meanwhile waits for the finished file.
    QString problem;
    if (exportTo(exportPath, &problem))
        emit signalUpdateStatus(tr("Данные экпортированны в базу данных .DBF"));
    else if (!problem.isEmpty())
        emit signalUpdateStatus(problem);
    else
        emit signalUpdateStatus(tr("Не удалось загрузить драйвер ODBC для базы данных .DBF"));
}

bool DbfExport::exportTo(const QString& folder, QString* problem)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    const QString target = QDir(folder).filePath(QStringLiteral("export.dbf"));
    DbfFileWriter writer(target);
    // A full disk, a file too large for it, a folder not to be written: said as such.
    const auto finished = [&](bool ok) {
        const FailureText::Kind kind
            = ok || !writer.systemError() ? FailureText::Other : FailureText::ofSystemError(writer.systemError());
        if (kind != FailureText::Other)
            *problem = tr("Не удалось записать %1: %2")
                           .arg(QDir::toNativeSeparators(target),
                               FailureText::file(kind, qt_error_string(writer.systemError())).simplified());
        return ok;
    };
    const QString statement = SqlQueryBuilder::exportStatement(dbType);
    if (statement.isEmpty()) {
        // SQL Server has no export rows: the file is written with its fields and no record.
        return finished(
            writer.open(DbfRecordFormat::fields(), DbfRecordFormat::kLanguageDriver, QDate::currentDate())
            && writer.commit());
    }

    const bool sqlite = dbType == SqlQueryBuilder::SQLite;
    // Opening a missing SQLite file would create an empty database in its place.
    if (sqlite && !QFileInfo(dbDatabaseName).isFile())
        return false;
    bool written = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QODBC3"), connectionName());
        if (sqlite)
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.setDatabaseName(dbDatabaseName);
        if (db.open()) {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            written = query.exec(statement)
                && writer.open(DbfRecordFormat::fields(), DbfRecordFormat::kLanguageDriver, QDate::currentDate())
                && writeRows(query, writer);
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connectionName());
    return finished(written && writer.commit());
}

bool DbfExport::writeRows(QSqlQuery& query, DbfFileWriter& writer)
{
    const int columns = DbfRecordFormat::fields().size() - 1;
    qint64 id = 0;
    QVariantList row;
    while (query.next()) {
        row.clear();
        for (int i = 0; i < columns; ++i)
            row << query.value(i);
        if (!writer.append(DbfRecordFormat::record(id++, row)))
            return false;
    }
    // next() also ends on a read error (a busy or damaged file): that export is incomplete.
    return query.lastError().type() == QSqlError::NoError;
}
