#pragma once

#include <QHash>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>

#include <vector>

struct PendingMeasurement;

// Writes batches of measurements on the writer's connection: the sensors' row ids resolved
// once per batch (cached until a registry change), every row inserted with statements kept
// prepared from batch to batch (MySQL gets multi-row INSERTs: one round trip per hundred rows
// instead of one per row), each sensor's "last" row written once per batch, and the aggregates
// kept in the same transaction. The caller opens and commits the transaction.
class MeasureBatchWriter
{
public:
    // Rows of one multi-row INSERT on MySQL.
    static constexpr int kRowsPerInsert = 100;

    MeasureBatchWriter(QSqlDatabase& db, int dbType);

    // False with the database's text; the caller rolls back and may retry the same batch.
    // `unknown` counts measurements whose address names no sensor (nothing to attach them to).
    bool write(const std::vector<PendingMeasurement>& batch, int* unknown, QString* error);
    // A statement of the same transaction whose rows are not read, kept prepared like the
    // batches' own: the write sequence's step, in every transaction.
    bool run(const QString& statement, const QVariantList& values, QString* error);
    // A registry change may have renumbered the sensors: ids are looked up again.
    void forgetSensorIds() { ids.clear(); }
    // The connection was reopened: statements are prepared again.
    void reset();

private:
    struct Row {
        qint64 sensorId;
        qint64 time;
        QVariant temperature;
        QVariant wetness;
        QVariant battery;
    };
    bool resolve(const QString& eui64, qint64* id, QString* error);
    bool insertRows(const QVector<Row>& rows, QString* error);
    bool exec(QSqlQuery& query, const QString& statement, QString* error);
    QSqlQuery& prepared(const QString& statement);

    QSqlDatabase& db;
    int dbType;
    QHash<QString, qint64> ids; // 0: no such sensor
    QMap<QString, QSqlQuery> statements;
};
