#include "SimClock.h"

namespace {

LONGLONG PerformanceCounter()
{
    LARGE_INTEGER value{};
    ::QueryPerformanceCounter(&value);
    return value.QuadPart;
}

// The default period of the system timer: 64 interrupts a second.
constexpr LONGLONG kTimerStepMicroseconds = 15625;

// Whole seconds and the rest apart, so that the multiplication cannot overflow.
LONGLONG Scale(LONGLONG ticks, LONGLONG frequency, LONGLONG unitsPerSecond)
{
    return ticks / frequency * unitsPerSecond + ticks % frequency * unitsPerSecond / frequency;
}

} // namespace

SimClock::SimClock(SimClockKind kind) : m_kind(kind)
{
    if (m_kind == SimClockKind::Real) {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        m_frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
        m_realStart = PerformanceCounter();
    }
}

LONGLONG SimClock::Elapsed() const
{
    return m_kind == SimClockKind::Real ? PerformanceCounter() - m_realStart : m_virtualTicks;
}

DWORD SimClock::Now() const
{
    return static_cast<DWORD>(Scale(Elapsed(), m_frequency, 1000)); // wraps like the tick count
}

DWORD SimClock::Read()
{
    const LONGLONG microseconds = Scale(Elapsed(), m_frequency, 1000000);
    const LONGLONG stepStart = microseconds / kTimerStepMicroseconds * kTimerStepMicroseconds;
    if (m_kind == SimClockKind::Virtual)
        m_virtualTicks += m_frequency / 1000;
    return static_cast<DWORD>(stepStart / 1000);
}

LONGLONG SimClock::ReadCounter()
{
    if (m_kind == SimClockKind::Real)
        return PerformanceCounter();
    const LONGLONG now = m_virtualTicks;
    m_virtualTicks += kCounterReadingTicks;
    return now;
}

LONGLONG SimClock::CounterFrequency() const
{
    return m_frequency;
}

void SimClock::Advance(DWORD milliseconds)
{
    if (m_kind == SimClockKind::Real)
        ::Sleep(milliseconds);
    else
        m_virtualTicks += static_cast<LONGLONG>(milliseconds) * (m_frequency / 1000);
}

void SimClock::JumpTo(DWORD time)
{
    const LONG ahead = static_cast<LONG>(time - Now());
    if (m_kind == SimClockKind::Virtual && ahead > 0) {
        // To the start of that millisecond, as Now() counts it.
        const LONGLONG msTicks = m_frequency / 1000;
        m_virtualTicks = (m_virtualTicks / msTicks + ahead) * msTicks;
    }
}
