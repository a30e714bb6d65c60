#pragma once

#include <QtGlobal>

// Paces the loads of one view. At most one load runs at a time; requests that arrive while it
// runs are served by exactly one more load, which starts after the running one has ended and
// the loading thread has rested as long as that load took (at least minRestMs, at most
// maxRestMs); a gate can also rest a multiple of that after every load. A view that
// refreshes on every arriving measurement therefore never keeps a reader open back to back,
// never spends more than about half a core on loads nobody can follow that fast, and a load
// of a few milliseconds does not bring its rows to the GUI thread hundreds of times a second.
class LoadGate
{
public:
    static constexpr qint64 minRestMs = 250;
    static constexpr qint64 maxRestMs = 2000;

    // True when the load may start now; false when it is left to the load after the current.
    bool request()
    {
        if (state == Idle) {
            state = Running;
            return true;
        }
        if (state == Running || restPerLoad > 0)
            queued = true;
        return false;
    }
    // The running load ended after `tookMs`. Returns the rest in ms before the queued load
    // starts (call resume() then), or -1 when none is queued and the gate is idle again. A
    // gate that rests after every load always returns its rest.
    int finished(qint64 tookMs)
    {
        const int rest = int(qBound<qint64>(leastRest, tookMs * qMax(1, restPerLoad), maxRestMs));
        if (restPerLoad > 0) {
            state = Resting;
            return rest;
        }
        if (!queued) {
            state = Idle;
            return -1;
        }
        queued = false;
        state = Resting;
        return rest;
    }
    // The rest is over: true when a load starts now, false when none was asked for and the
    // gate is idle again.
    bool resume()
    {
        if (restPerLoad > 0) {
            if (!queued) {
                state = Idle;
                return false;
            }
            queued = false;
        }
        state = Running;
        return true;
    }
    // After every load the gate rests `factor` times as long as the load took, at least
    // `leastMs` (at most maxRestMs), whether or not another was asked for meanwhile: a view
    // whose loads are asked for at every commit then spends at most about 1/(factor+1) of a
    // core on them, however short its loads are.
    void restAfterEveryLoad(int factor, qint64 leastMs = minRestMs)
    {
        restPerLoad = qMax(1, factor);
        leastRest = qBound<qint64>(0, leastMs, maxRestMs);
    }
    // The queued load is not wanted any more (its view is no longer shown).
    void abandon()
    {
        state = Idle;
        queued = false;
    }
    bool busy() const { return state != Idle; }
    bool running() const { return state == Running; }

private:
    enum State { Idle, Running, Resting };
    State state = Idle;
    bool queued = false;
    int restPerLoad = 0; // 0: a rest only before a load asked for meanwhile
    qint64 leastRest = minRestMs;
};
