#include "storage/sqlbasemodule.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QSqlError>
#include <QThread>
#include <QTimerEvent>

#include <cmath>

#include "storage/failuretext.h"
#include "storage/measureaggregates.h"
#include "storage/schemacheck.h"
#include "storage/databasewriter.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace
{

bool isDigitAt(const QString& s, int i)
{
    return s.at(i) >= QLatin1Char('0') && s.at(i) <= QLatin1Char('9');
}

} // namespace

SQLBaseModule::SQLBaseModule(QObject* parent)
    : QObject(parent)
{
}

SQLBaseModule::~SQLBaseModule()
{
    slotStopModule();
    if (!db.isValid())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

void SQLBaseModule::setRegistry(QVector<Sensor*>* sensors, QVector<Location*>* locations)
{
    registrySensors = sensors;
    registryLocations = locations;
}

void SQLBaseModule::init(int type, QString hostname, QString username, QString password, QString database, int port)
{
    dbType = type;
    const bool odbc = type == SqlQueryBuilder::MySQL || type == SqlQueryBuilder::SQLServer;
    db = QSqlDatabase::addDatabase(odbc ? QStringLiteral("QODBC3") : QStringLiteral("QSQLITE"));
    if (!odbc)
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    dbHostname = hostname;
    dbUsername = username;
    dbPort = port;
    dbPassword = password;
    dbName = database;

    if (dbType != SqlQueryBuilder::SQLite || !QFileInfo::exists(SqlQueryBuilder::sqliteFileName())) {
        if (!createTables())
            return;
    }
    if (!openAndLoad())
        return;
    purgeTimerId = startTimer(purgeInterval, Qt::CoarseTimer);
}

bool SQLBaseModule::openConnection(int failureCode)
{
    db.setDatabaseName(SqlQueryBuilder::databaseName(dbType, dbHostname, dbUsername, dbPassword, dbName, dbPort));
    bool ok = db.open();
    QString error = db.lastError().text();
    // Before the journal mode or any table is written, so that a database refused here is
    // left as it was, byte for byte. A file that is no database lists no tables and fails below.
    const QString foreign = ok ? SchemaCheck::foreignTable(db, dbType) : QString();
    if (!foreign.isEmpty()) {
        db.close();
        failStart(115, foreign);
        return false;
    }
    if (ok && db.driverName() == QLatin1String("QSQLITE")) {
        // SQLite opens lazily: the first statement is what finds a file that is no database.
        // WAL lets the export and the reports read while the intake writes; NORMAL
        // synchronisation is safe with WAL and keeps one commit per measurement cheap.
        QSqlQuery pragma(db);
        ok = pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"))
            && pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        if (!ok) {
            error = pragma.lastError().text();
            pragma.finish();
            db.close();
        }
    }
    if (ok)
        return true;
    failStart(failureCode, FailureText::database(error));
    return false;
}

void SQLBaseModule::failStart(int code, const QString& text)
{
    // The driver's text alone does not say which database it means.
    emit signalStartFailed(SchemaCheck::place(dbType, dbHostname, dbName, dbPort) + QStringLiteral(":\n") + text);
    emit signalCloseApplication(code);
}

bool SQLBaseModule::createTables()
{
    if (!openConnection(114))
        return false;
    runSchema(true);
    db.close();
    return true;
}

bool SQLBaseModule::openAndLoad()
{
    if (!openConnection(115))
        return false;
    // Tables missing from an existing SQLite file are created, but the first location is
    // only ever written into a new file.
    if (dbType == SqlQueryBuilder::SQLite) {
        runSchema(false);
        widenSensorTimeIndex();
    }
    // A close that came in while a long step ran has closed the module meanwhile; the step is
    // finished, and start-up ends here without a word.
    if (stopped)
        return false;
    // A table without a column the program writes would take no row and say nothing.
    const QString missing = SchemaCheck::missingColumn(db);
    if (!missing.isEmpty()) {
        db.close();
        failStart(115, missing);
        return false;
    }
    // A database from before the aggregates, or from before their battery bounds, is built once.
    bool battery = true;
    const bool aggregates
        = MeasureAggregates::needsBuild(db, dbType) ? buildAggregates(&battery) : MeasureAggregates::supported(dbType);
    if (stopped)
        return false;
    emit signalAggregatesReady(aggregates, aggregates && battery);
    loadSensors();
    loadLocations();
    const QString cleanup = SqlQueryBuilder::locationCleanupStatement(dbType);
    if (!cleanup.isEmpty())
        QSqlQuery(db).exec(cleanup);
    // From here on every write goes through the writer; this connection only reads.
    writer = new DatabaseWriter(this);
    writer->setAggregatesKept(aggregates, battery);
    connect(writer, &DatabaseWriter::fileStateChanged, this, &SQLBaseModule::writerFileState);
    // Their boxes open once the writer's poll has returned: opened inside it, they would hold its
    // timer, and with it the waiting count and the reason in the status bar, until closed.
    connect(writer, &DatabaseWriter::faultChanged, this, &SQLBaseModule::showWriterFault, Qt::QueuedConnection);
    connect(writer, &DatabaseWriter::aggregatesDropped, this, &SQLBaseModule::showAggregatesDropped,
        Qt::QueuedConnection);
    connect(writer, &DatabaseWriter::jobRefused, this, [this](const QString& reason, qint64 count) {
        emit signalSetStatusText(tr("База данных отклонила изменение датчиков (всего %1): %2").arg(count).arg(reason));
    });
    writer->start(db, dbType);
    emit signalWriterChanged(writer);
    purge();
    return true;
}

void SQLBaseModule::runSchema(bool withLocationRow)
{
    QSqlQuery query(db);
    for (const QString& statement : SqlQueryBuilder::schemaStatements(dbType, withLocationRow))
        query.exec(statement);
    if (dbType == SqlQueryBuilder::SQLite) {
        for (const QString& statement : SqlQueryBuilder::sqliteIndexStatements())
            query.exec(statement);
    } else if (dbType == SqlQueryBuilder::MySQL) {
        mendMySqlSchema();
    }
    QString error;
    if (!MeasureAggregates::createSchema(db, dbType, &error))
        qWarning() << "aggregate tables:" << error;
}

bool SQLBaseModule::buildAggregates(bool* battery)
{
    QString error;
    bool built = false;
    QSqlQuery probe(db);
    if (probe.exec(QStringLiteral("SELECT 1 FROM measure LIMIT 1")) && !probe.next()) {
        probe.finish();
        built = MeasureAggregates::build(db, dbType, &error, battery);
        if (!built)
            showAggregatesDropped(error);
        return built;
    }
    probe.finish();
    // The build reads every stored measurement.
    QElapsedTimer timer;
    timer.start();
    const int type = dbType;
    built = runStartStep(
        tr("Построение сводных данных..."),
        [type, battery](QSqlDatabase& connection, QString* error) {
            return MeasureAggregates::build(connection, type, error, battery);
        },
        &error);
    if (built)
        qInfo() << "measurement aggregates built in" << timer.elapsed() << "ms";
    else
        showAggregatesDropped(error);
    return built;
}

bool SQLBaseModule::runStartStep(
    const QString& line, const std::function<bool(QSqlDatabase&, QString*)>& step, QString* error)
{
    // A connection of its own, so that the start-up window keeps painting with its line;
    // sockets wait, so nothing is written meanwhile.
    emit signalSetInitInfoString(line);
    bool done = false;
    QThread* thread = QThread::create([&step, error, &done] {
        const QString name = QStringLiteral("startStep");
        {
            QSqlDatabase connection = openSeparateConnection(name);
            done = connection.isOpen() && step(connection, error);
            if (!connection.isOpen())
                *error = connection.lastError().text();
            connection.close();
        }
        QSqlDatabase::removeDatabase(name);
    });
    thread->start();
    while (!thread->wait(50))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    delete thread;
    return done;
}

void SQLBaseModule::widenSensorTimeIndex()
{
    QSqlQuery query(db);
    const bool narrow
        = query.exec(SqlQueryBuilder::sqliteSensorTimeIndexColumns()) && query.next() && query.value(0).toInt() == 2;
    query.finish();
    if (!narrow)
        return;
    QElapsedTimer timer;
    timer.start();
    QString error;
    // One transaction: a file left by a crash or a refused write keeps the index it had, which
    // every query still uses, and is widened at the next start.
    const bool widened = runStartStep(
        tr("Перестроение индекса измерений..."),
        [](QSqlDatabase& connection, QString* error) {
            if (!connection.transaction()) {
                *error = connection.lastError().text();
                return false;
            }
            const bool ok = SqlStatement::run(connection, QStringLiteral("DROP INDEX measure_sensor_time"), {}, error)
                && SqlStatement::run(connection, SqlQueryBuilder::sqliteSensorTimeIndex(), {}, error);
            if (ok && connection.commit())
                return true;
            if (ok)
                *error = connection.lastError().text();
            connection.rollback();
            return false;
        },
        &error);
    if (widened)
        qInfo() << "measure_sensor_time widened in" << timer.elapsed() << "ms";
    else
        qWarning() << "measure_sensor_time kept as it was:" << error;
}

void SQLBaseModule::showAggregatesDropped(const QString& reason)
{
    emit signalAggregatesReady(false, false);
    qWarning() << "measurement aggregates not kept:" << reason;
    if (aggregatesBoxShown)
        return;
    aggregatesBoxShown = true;
    emit signalWarning(
        tr("Сводные данные по часам и суткам недоступны: %1\nИзмерения записываются без них, сводка строится "
           "по самим измерениям; сводные данные будут построены при следующем запуске, которому это удастся.")
            .arg(reason.trimmed()));
}

void SQLBaseModule::showWriterFault(const QString& reason, bool lasting)
{
    if (reason.isEmpty()) {
        faultBoxShown = false;
        return;
    }
    // Locks and lost connections pass by themselves and are only shown in the status bar.
    if (!lasting || faultBoxShown)
        return;
    faultBoxShown = true;
    emit signalWarning(
        tr("База данных не принимает записи.\n%1\nИзмерения и изменения датчиков ждут в памяти и будут записаны, "
           "как только причина будет устранена.")
            .arg(FailureText::database(reason)));
}

void SQLBaseModule::mendMySqlSchema()
{
    // Both checks read information_schema first: MySQL has no CREATE INDEX IF NOT EXISTS, and
    // an ALTER of a large removed table at every start would copy it every time.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    for (const QString& name : SqlQueryBuilder::mysqlIndexNames()) {
        if (SqlStatement::exec(query, SqlQueryBuilder::mysqlIndexExists(), { name }, nullptr) && query.next()
            && query.value(0).toInt() == 0) {
            query.finish();
            query.exec(SqlQueryBuilder::mysqlIndexStatement(name));
        }
        query.finish();
    }
    // Tables made before removed.id was AUTO_INCREMENT refuse the rows the sensors dialog
    // moves there without an id.
    if (query.exec(SqlQueryBuilder::mysqlRemovedIdAutoIncrement()) && query.next() && query.value(0).toInt() == 0) {
        query.finish();
        query.exec(SqlQueryBuilder::mysqlRemovedIdMend());
    }
}

void SQLBaseModule::purge()
{
    const int days = daysSave ? daysSave() : -1;
    if (!SqlQueryBuilder::purgeSupported(dbType) || days < 0 || !writer)
        return;
    writer->requestPurge(QDateTime::currentSecsSinceEpoch() - qint64(days) * 86400);
}

void SQLBaseModule::timerEvent(QTimerEvent*)
{
    purge();
}

void SQLBaseModule::loadSensors()
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!registrySensors || !query.exec(SqlQueryBuilder::sensorLoadStatement()))
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    while (query.next()) {
        auto* sensor = new Sensor;
        sensor->EUI64 = query.value(0).toString();
        sensor->name = query.value(1).toString();
        sensor->location = query.value(2).toInt();
        sensor->datecheck = dateFromColumn(query.value(3));
        sensor->sleepInterval = query.value(4).toInt();
        sensor->tMinNoncritical = query.value(5).toDouble();
        sensor->tMaxNoncritical = query.value(6).toDouble();
        sensor->tMinCritical = query.value(7).toDouble();
        sensor->tMaxCritical = query.value(8).toDouble();
        sensor->hMinNoncritical = query.value(9).toDouble();
        sensor->hMaxNoncritical = query.value(10).toDouble();
        sensor->hMinCritical = query.value(11).toDouble();
        sensor->hMaxCritical = query.value(12).toDouble();
        sensor->isLowBattery = query.value(13).toInt() != 0;
        sensor->isLostConnection = query.value(14).toInt() != 0;
        sensor->isEnabled = query.value(15).toInt() != 0;
        sensor->lastSeen = now;
        registrySensors->append(sensor);
    }
}

void SQLBaseModule::loadLocations()
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!registryLocations || !query.exec(SqlQueryBuilder::locationLoadStatement()))
        return;
    QSet<int> ids;
    while (query.next()) {
        auto* location = new Location;
        location->name = query.value(0).toString();
        location->EUI64 = query.value(1).toString();
        location->ip = query.value(2).toString();
        ids.insert(query.value(3).toInt());
        registryLocations->append(location);
    }
    // The cleanup that follows sets such a sensor's row to NULL, which loads as 0; memory
    // follows now, so that no reader ever indexes past the location list.
    if (!registrySensors)
        return;
    for (Sensor* sensor : qAsConst(*registrySensors)) {
        if (!ids.contains(sensor->location) || sensor->location < 0 || sensor->location >= registryLocations->size())
            sensor->location = 0;
    }
}

void SQLBaseModule::slotStopModule()
{
    stopped = true;
    if (purgeTimerId) {
        killTimer(purgeTimerId);
        purgeTimerId = 0;
    }
    if (writer) {
        const int unwritten = writer->flushAndStop(closeFlushMs);
        const qint64 discarded = writer->discardedCount();
        const qint64 refused = writer->refusedCount();
        const QString why = unwritten > 0 ? shortfallText(*writer) : QString();
        emit signalWriterChanged(nullptr);
        delete writer;
        writer = nullptr;
        QStringList lost;
        if (unwritten > 0)
            lost << tr("Не удалось записать в базу данных %1 измерений: %2").arg(unwritten).arg(why);
        if (discarded > 0)
            lost << tr("Не сохранено %1 измерений: их датчиков нет в базе данных.").arg(discarded);
        // Refused while the program ran and said in the status bar then; counted here too, so
        // that the close names every reading that was answered and not stored.
        if (refused > 0)
            lost << tr("Не сохранено %1 измерений: очередь записи в базу данных была переполнена.").arg(refused);
        if (!lost.isEmpty()) {
            const QString text = lost.join(QLatin1Char('\n'));
            qWarning("%s", qPrintable(text));
            emit signalWarning(text);
        }
    }
    if (db.isOpen())
        db.close();
}

QString SQLBaseModule::shortfallText(const DatabaseWriter& closed) const
{
    const QString file = QDir::toNativeSeparators(SqlQueryBuilder::sqliteFileName());
    switch (closed.shortfall()) {
    case DatabaseWriter::Shortfall::Refused:
        return FailureText::database(closed.faultReason());
    case DatabaseWriter::Shortfall::FileDeleted:
        return tr("файл базы данных %1 удалён во время работы программы.").arg(file);
    case DatabaseWriter::Shortfall::FileReplaced:
        return tr("файл базы данных %1 заменён другим файлом во время работы программы.").arg(file);
    case DatabaseWriter::Shortfall::Behind:
        // The user is not sent looking for an outage: the database answered to the end.
        return tr("база данных была доступна, но записывала медленнее, чем поступали измерения, и за %1 с, "
                  "отведённые на закрытие программы, не успела записать накопившиеся. Если так бывает часто, "
                  "проверьте нагрузку на компьютер и его диск (для MySQL — на сервер базы данных).")
            .arg(QLocale().toString(closeFlushMs / 1000.0));
    case DatabaseWriter::Shortfall::NoAnswer:
        break;
    }
    return tr("база данных недоступна.");
}

void SQLBaseModule::writerFileState(int state)
{
    const QString file = QDir::toNativeSeparators(SqlQueryBuilder::sqliteFileName());
    if (state == int(DatabaseWriter::FileState::InPlace)) {
        fileAway = false;
        if (!db.isOpen())
            db.open();
        emit signalSetStatusText(tr("Файл базы данных %1 снова на месте, запись в базу данных продолжается").arg(file));
        return;
    }
    const QString what = state == int(DatabaseWriter::FileState::Deleted)
        ? tr("Файл базы данных %1 удалён").arg(file)
        : tr("Файл базы данных %1 заменён другим файлом").arg(file);
    // This connection would keep the WAL of the file that left the path beside the path,
    // where the writer needs it emptied before it takes on a copy put back there.
    db.close();
    emit signalSetStatusText(what + tr(": запись в базу данных приостановлена"));
    if (fileAway)
        return;
    fileAway = true;
    emit signalWarning(what
        + tr(" во время работы программы.\nЗапись в базу данных приостановлена: измерения и изменения датчиков "
             "ждут в памяти. Верните прежний файл на место, и запись продолжится. Если закрыть программу, "
             "не записанное будет названо и потеряно."));
}

void SQLBaseModule::slotSensorDataReceived(const PendingMeasurement& measurement)
{
    if (writer)
        writer->enqueue(measurement);
}

QSqlQuery SQLBaseModule::slotExportDBF()
{
    return exportQuery(db);
}

QSqlQuery SQLBaseModule::exportQuery(const QSqlDatabase& connection) const
{
    QSqlQuery query(connection);
    query.setForwardOnly(true);
    query.exec(SqlQueryBuilder::exportStatement(dbType));
    return query;
}

QSqlDatabase SQLBaseModule::openSeparateConnection(const QString& connectionName)
{
    QSqlDatabase connection
        = QSqlDatabase::cloneDatabase(QLatin1String(QSqlDatabase::defaultConnection), connectionName);
    connection.open();
    return connection;
}

double SQLBaseModule::roundToHundredths(double x)
{
    return std::floor(x / 0.01 + 0.5) * 0.01;
}

QDate SQLBaseModule::dateFromColumn(const QVariant& value)
{
    if (value.isNull())
        return QDate();
    if (value.type() == QVariant::Date || value.type() == QVariant::DateTime)
        return value.toDate();
    const QString text = value.toString();
    if (text.size() != 10 || isDigitAt(text, 4) || isDigitAt(text, 7))
        return QDate();
    for (int i : { 0, 1, 2, 3, 5, 6, 8, 9 }) {
        if (!isDigitAt(text, i))
            return QDate();
    }
    return QDate(text.midRef(0, 4).toInt(), text.midRef(5, 2).toInt(), text.midRef(8, 2).toInt());
}
