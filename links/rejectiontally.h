#pragma once

#include <QtGlobal>

#include "links/gatewayprotocol.h"

// The messages of one gateway connection dropped as malformed, counted by fault. The network
// log reports them in one line per interval at most: a gateway that sends thousands of bad
// messages costs a counter each, not a line each. The time is handed in.
class RejectionTally
{
public:
    explicit RejectionTally(qint64 intervalMs = 1000)
        : interval(intervalMs)
    {
    }

    // Counts one; true when its line may go out at once (none went out within the interval).
    bool add(GatewayProtocol::Fault fault, qint64 nowMs);
    bool isEmpty() const { return total == 0; }
    // Milliseconds until what is counted may be reported; -1 when nothing is counted.
    qint64 dueIn(qint64 nowMs) const;
    // The counts by fault (indexed by Fault), zeroed here; the interval starts anew.
    GatewayProtocol::FaultCounts take(qint64 nowMs);

private:
    qint64 interval;
    qint64 lastLine = 0;
    bool reported = false; // a line went out at lastLine
    int total = 0;
    GatewayProtocol::FaultCounts counts {};
};
