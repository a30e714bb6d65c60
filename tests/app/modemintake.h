#pragma once

#include "links/modemmodule.h"
#include "quietintakesink.h"
#include "tools/modemsim/modempeer.h"

class AppState;
class SQLBaseModule;

// The modem road of the program in this process: the modem module on a pseudo-terminal and
// the intake, whose replies go back to the line and whose writes go to the module's writer.
class ModemIntake : public QuietIntakeSink
{
public:
    ModemIntake(AppState& state, SQLBaseModule& sql);
    ~ModemIntake() override;

    // Opens the pseudo-terminal as the module's port and runs the modem's start-up script.
    bool start(AppState& state, QString* error);
    // Sends one reading (temperature as given, 40 %, 3 V) and waits for the program's answer.
    bool report(const QString& eui64, float temperature);

    void sendModemReply(const QByteArray& frame) override;
    void storeMeasurement(const PendingMeasurement& m) override;

    SQLBaseModule& sql;
    SensorIntake intake;
    ModemPeer peer;
    ModemModule modem;
};
