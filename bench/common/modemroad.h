#pragma once

#include <QObject>

#include "app/sensorintake.h"
#include "links/modemmodule.h"
#include "tests/app/quietintakesink.h"

class AppState;
class DatabaseWriter;
class ModemProbe;

// The program's modem road in this process, as the application object wires it: the modem
// module in its thread on the probe's line answering from the registry's intervals, the intake
// on the calling thread keeping them, and its measurements to the writer.
class ModemRoad : public QObject, public QuietIntakeSink
{
    Q_OBJECT
public:
    ModemRoad(AppState& state, DatabaseWriter& writer);
    ~ModemRoad() override;

    // Opens the module on the probe's line and waits until its start-up script has run.
    bool start(AppState& state, ModemProbe& probe);
    // Opens the module on the line `portName`; its start-up script runs in the module's thread.
    void open(const QString& portName);
    // Stops the module's thread; the intake goes on without a line.
    void stop();

    SensorIntake intake;
    ModemModule modem;
    int stored = 0;

private:
    void modemSensorInterval(const QString& eui64, int interval) override
    {
        modem.sleepIntervals().set(eui64, interval);
    }
    void storeMeasurement(const PendingMeasurement& m) override;

    AppState& state;
    DatabaseWriter& writer;
};
