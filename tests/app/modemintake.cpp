#include "modemintake.h"

#include <QSignalSpy>

#include "payloads.h"
#include "storage/sqlbasemodule.h"

ModemIntake::ModemIntake(AppState& state, SQLBaseModule& sql)
    : ModemRoad(state, *sql.writer)
{
}

bool ModemIntake::start(AppState&, QString* error)
{
    if (!peer.open(error))
        return false;
    QSignalSpy script(&peer, &ModemPeer::scriptDone);
    open(peer.portName());
    return script.wait(30000);
}

bool ModemIntake::report(const QString& eui64, float temperature)
{
    QSignalSpy replied(&peer, &ModemPeer::unicastReceived);
    peer.sendCast(QStringLiteral("UCAST"), eui64, payloads::measurement(temperature, 40.0f, 3.0f));
    return replied.wait(5000);
}
