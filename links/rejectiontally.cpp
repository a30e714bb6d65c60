#include "links/rejectiontally.h"

bool RejectionTally::add(GatewayProtocol::Fault fault, qint64 nowMs)
{
    ++counts[size_t(fault)];
    ++total;
    return dueIn(nowMs) == 0;
}

qint64 RejectionTally::dueIn(qint64 nowMs) const
{
    if (total == 0)
        return -1;
    return reported ? qMax<qint64>(0, lastLine + interval - nowMs) : 0;
}

GatewayProtocol::FaultCounts RejectionTally::take(qint64 nowMs)
{
    const GatewayProtocol::FaultCounts taken = counts;
    counts = {};
    total = 0;
    lastLine = nowMs;
    reported = true;
    return taken;
}
