#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "app/records.h"

// The database: the default connection, its schema, storage of measurements and the purge.
class SQLBaseModule : public QObject
{
    Q_OBJECT
public:
    explicit SQLBaseModule(QObject* parent = nullptr);
    ~SQLBaseModule() override;

    void init(int type, QString hostname, QString username, QString password, QString database, int port);

    QSqlDatabase db;
    int dbType = 0;
    QString dbHostname;
    QString dbUsername;
    QString dbPassword;
    QString dbDatabase;
    int dbPort = 0;

signals:
    void signalCloseApplication(int code);

public slots:
    void slotStopModule();
    void slotSensorDataReceived(QString eui64, SensorData data);
    QSqlQuery slotExportDBF();
};
