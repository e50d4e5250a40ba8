#pragma once
// The simulated bus's clock, in milliseconds since the bus was made.
//
// The virtual clock only moves when something moves it: a tick-count reading
// (1 ms, so that a busy wait on GetTickCount ends), a Sleep, a transfer's
// latency, or a jump to a timed event. The real clock follows ::GetTickCount.

#include "SimClockKind.h"
#include "WinHid.h"

class SimClock {
public:
    explicit SimClock(SimClockKind kind);

    SimClockKind Kind() const { return m_kind; }
    DWORD Now() const;

    // A GetTickCount reading: the current time; the virtual clock then moves on 1 ms.
    DWORD Read();
    // Lets `milliseconds` pass: the virtual clock adds them, the real one waits them out.
    void Advance(DWORD milliseconds);
    // Moves the virtual clock forward to `time` if that is later; the real clock cannot jump.
    void JumpTo(DWORD time);

private:
    SimClockKind m_kind;
    DWORD m_virtualNow = 0;
    DWORD m_realStart = 0;
};
