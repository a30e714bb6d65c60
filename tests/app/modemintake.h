#pragma once

#include "bench/common/modemroad.h"
#include "tools/modemsim/modempeer.h"

class SQLBaseModule;

// The program's modem road in this process (bench/common/modemroad.h), whose measurements go to
// the module's writer, on a pseudo-terminal whose modem end is the test's, in the test's thread.
class ModemIntake : public ModemRoad
{
public:
    ModemIntake(AppState& state, SQLBaseModule& sql);
    ~ModemIntake() override { stop(); }

    // Opens the pseudo-terminal as the module's port and runs the modem's start-up script.
    bool start(AppState& state, QString* error);
    // Sends one reading (temperature as given, 40 %, 3 V) and waits for the program's answer.
    bool report(const QString& eui64, float temperature);

    ModemPeer peer;
};
