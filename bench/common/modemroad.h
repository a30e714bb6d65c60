#pragma once

#include <QObject>

#include "app/sensorintake.h"
#include "links/modemmodule.h"
#include "tests/app/quietintakesink.h"

class AppState;
class DatabaseWriter;
class ModemProbe;

// The program's modem road in this process, as the application object wires it: the modem
// module in its thread on the probe's line, the intake on the calling thread, its replies back
// to the line and its measurements to the writer.
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

signals:
    void reply(QByteArray frame);

private:
    void sendModemReply(const QByteArray& frame) override { emit reply(frame); }
    void storeMeasurement(const PendingMeasurement& m) override;

    DatabaseWriter& writer;
};
