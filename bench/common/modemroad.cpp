#include "bench/common/modemroad.h"

#include <QCoreApplication>
#include <QDateTime>

#include "app/appstate.h"
#include "bench/common/modemprobe.h"
#include "storage/databasewriter.h"

ModemRoad::ModemRoad(AppState& state, DatabaseWriter& writer)
    : intake(state, *this, [] { return QDateTime::currentMSecsSinceEpoch(); })
    , state(state)
    , writer(writer)
{
}

ModemRoad::~ModemRoad()
{
    stop();
}

void ModemRoad::stop()
{
    if (!modem.isRunning())
        return;
    QMetaObject::invokeMethod(&modem, "slotStopModule", Qt::QueuedConnection);
    modem.wait();
}

bool ModemRoad::start(AppState&, ModemProbe& probe)
{
    open(probe.portName());
    return probe.waitForScript(15000);
}

void ModemRoad::open(const QString& portName)
{
    modem.sleepIntervals().assign(state.sleepIntervals());
    modem.setPortName(portName);
    modem.moveToThread(&modem);
    connect(&modem, &ModemModule::signalCastsReceived, this,
        [this](const QVector<ModemCast>& casts) { intake.modemCasts(casts); });
    modem.start();
}

void ModemRoad::storeMeasurement(const PendingMeasurement& m)
{
    writer.enqueue(m);
    ++stored;
}
