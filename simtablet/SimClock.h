#pragma once
// The simulated bus's clock, in milliseconds since the bus was made.
//
// The virtual clock only moves when something moves it: a tick-count reading
// (1 ms, so that a busy wait on GetTickCount ends), a Sleep, a transfer's
// latency, or a jump to a timed event. The real clock counts real
// milliseconds from the performance counter: the system tick count moves in
// steps of 10-16 ms (about 16 under Wine), and a simulated device's clock
// that coarse would blur every timing the trace shows and stretch each
// tick-count pause of the program by up to one step.

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
    LONGLONG m_realStart = 0;
    LONGLONG m_frequency = 1;
};
