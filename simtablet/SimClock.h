#pragma once
// The simulated bus's clock, in milliseconds since the bus was made, with the
// tick count and the high-resolution counter that the seam hands out.
//
// The virtual clock only moves when something moves it: a clock reading (a
// tick-count reading moves it 1 ms and a counter reading a few microseconds,
// so that busy waits on either end), a Sleep, a transfer's latency, or a jump
// to a timed event. The real clock counts real time on the performance
// counter.
//
// On both, the tick count moves in steps of the default system timer period,
// 15.625 ms, as Windows documents for GetTickCount (its resolution is the
// system timer's, typically 10 to 16 ms), so that a pause measured on it is
// as coarse here as it is on a user's machine. The simulator's own times
// (Now, the trace) are not coarse.

#include "SimClockKind.h"
#include "WinHid.h"

class SimClock {
public:
    explicit SimClock(SimClockKind kind);

    SimClockKind Kind() const { return m_kind; }
    DWORD Now() const;

    // A GetTickCount reading: the current time in whole timer steps; the
    // virtual clock then moves on 1 ms.
    DWORD Read();
    // A QueryPerformanceCounter reading, in CounterFrequency() units per
    // second: the virtual clock then moves on by kCounterReadingTicks.
    LONGLONG ReadCounter();
    LONGLONG CounterFrequency() const;
    // Lets `milliseconds` pass: the virtual clock adds them, the real one waits them out.
    void Advance(DWORD milliseconds);
    // Moves the virtual clock forward to `time` if that is later; the real clock cannot jump.
    void JumpTo(DWORD time);

    // The virtual counter runs at 10 MHz, as Windows' does on most current
    // machines; one reading takes 7 us, which is not a divisor of a
    // millisecond, so successive pauses start at varying points of one.
    static constexpr LONGLONG kVirtualFrequency = 10000000;
    static constexpr LONGLONG kCounterReadingTicks = 70;

private:
    // Elapsed counter ticks since the bus was made.
    LONGLONG Elapsed() const;

    SimClockKind m_kind;
    LONGLONG m_virtualTicks = 0;
    LONGLONG m_realStart = 0;
    LONGLONG m_frequency = kVirtualFrequency;
};
