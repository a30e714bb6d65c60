#include "storage/sqlbasemodule.h"

SQLBaseModule::SQLBaseModule(QObject* parent)
    : QObject(parent)
{
}

SQLBaseModule::~SQLBaseModule() = default;

void SQLBaseModule::init(int type, QString hostname, QString username, QString password, QString database, int port)
{
    dbType = type;
    dbHostname = hostname;
    dbUsername = username;
    dbPassword = password;
    dbDatabase = database;
    dbPort = port;
}

void SQLBaseModule::slotStopModule()
{
    if (db.isOpen())
        db.close();
}

void SQLBaseModule::slotSensorDataReceived(QString, SensorData)
{
}

QSqlQuery SQLBaseModule::slotExportDBF()
{
    return QSqlQuery();
}
