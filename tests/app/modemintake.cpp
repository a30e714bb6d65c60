#include "modemintake.h"

#include <QDateTime>
#include <QSignalSpy>

#include "app/appstate.h"
#include "payloads.h"
#include "storage/sqlbasemodule.h"

ModemIntake::ModemIntake(AppState& state, SQLBaseModule& sql)
    : sql(sql)
    , intake(state, *this, [] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

ModemIntake::~ModemIntake()
{
    QMetaObject::invokeMethod(&modem, "slotStopModule", Qt::QueuedConnection);
    modem.wait();
}

bool ModemIntake::start(AppState&, QString* error)
{
    if (!peer.open(error))
        return false;
    modem.setPortName(peer.portName());
    // The casts reach the intake in this thread, as they reach the application object.
    QObject::connect(&modem, &ModemModule::signalCastReceived, &peer,
        [this](QString kind, QString eui, QByteArray payload) { intake.modemCast(kind, eui, payload); });
    QSignalSpy script(&peer, &ModemPeer::scriptDone);
    modem.moveToThread(&modem);
    modem.start();
    return script.wait(30000);
}

bool ModemIntake::report(const QString& eui64, float temperature)
{
    QSignalSpy replied(&peer, &ModemPeer::unicastReceived);
    peer.sendCast(QStringLiteral("UCAST"), eui64, payloads::measurement(temperature, 40.0f, 3.0f));
    return replied.wait(5000);
}

void ModemIntake::sendModemReply(const QByteArray& frame)
{
    QMetaObject::invokeMethod(&modem, "slotSendData", Qt::QueuedConnection, Q_ARG(QByteArray, frame));
}

void ModemIntake::storeMeasurement(const PendingMeasurement& m)
{
    sql.slotSensorDataReceived(m);
}
