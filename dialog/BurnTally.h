#pragma once
// The service station's count of the tablets it burned since it opened:
// how many were burned and verified, how many failed, and the last outcome
// with its time of day. It counts burns only, and an unplug leaves it alone.

#include <windows.h>

#include <string>

class CBurnTally {
public:
    void Count(bool verified, const SYSTEMTIME& at);
    unsigned Verified() const { return m_nVerified; }
    unsigned Failed() const { return m_nFailed; }
    // The line the station shows.
    std::string Line() const;

private:
    unsigned m_nVerified = 0;
    unsigned m_nFailed = 0;
    bool m_bLastVerified = false;
    SYSTEMTIME m_lastAt{};
};
