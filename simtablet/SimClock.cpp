#include "SimClock.h"

SimClock::SimClock(SimClockKind kind)
    : m_kind(kind), m_realStart(kind == SimClockKind::Real ? ::GetTickCount() : 0)
{
}

DWORD SimClock::Now() const
{
    if (m_kind == SimClockKind::Real)
        return ::GetTickCount() - m_realStart; // unsigned: survives the 49.7-day wrap
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
