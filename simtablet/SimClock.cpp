#include "SimClock.h"

namespace {

LONGLONG PerformanceCounter()
{
    LARGE_INTEGER value{};
    ::QueryPerformanceCounter(&value);
    return value.QuadPart;
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

DWORD SimClock::Now() const
{
    if (m_kind == SimClockKind::Real) {
        const LONGLONG elapsed = PerformanceCounter() - m_realStart;
        // Whole seconds and the rest apart, so the multiplication cannot overflow.
        const LONGLONG ms = elapsed / m_frequency * 1000 + elapsed % m_frequency * 1000 / m_frequency;
        return static_cast<DWORD>(ms); // wraps like the tick count after 49.7 days
    }
    return m_virtualNow;
}

DWORD SimClock::Read()
{
    const DWORD now = Now();
    if (m_kind == SimClockKind::Virtual)
        ++m_virtualNow;
    return now;
}

void SimClock::Advance(DWORD milliseconds)
{
    if (m_kind == SimClockKind::Real)
        ::Sleep(milliseconds);
    else
        m_virtualNow += milliseconds;
}

void SimClock::JumpTo(DWORD time)
{
    if (m_kind == SimClockKind::Virtual && static_cast<LONG>(time - m_virtualNow) > 0)
        m_virtualNow = time;
}
