#include "TabletReturn.h"

#include "DeviceBroadcast.h"

#include <cstring>

bool CTabletReturn::Heard(DWORD eventType, LPARAM eventData, int change, const GUID& hidGuid)
{
    switch (eventType) {
    case DBT_DEVICEREMOVEPENDING: // may come alone, with no query before it
    case DBT_DEVICEREMOVECOMPLETE:
        if (change == -1) {
            m_bGone = true;
            m_bStayed = false;
        }
        return false;
    case DBT_DEVICEQUERYREMOVEFAILED:
        if (change == 1)
            m_bStayed = true;
        return false;
    case DBT_DEVICEARRIVAL: {
        if (change == 1) {
            m_bGone = false;
            return false;
        }
        if (change != 0 || !m_bGone)
            return false;
        const auto* report = DeviceBroadcast::Interface(eventData);
        if (report == nullptr || std::memcmp(&report->dbcc_classguid, &hidGuid, sizeof(hidGuid)) != 0)
            return false;
        // One arrival is taken up per departure: a tablet with several HID
        // interfaces reports each of them.
        m_bGone = false;
        return true;
    }
    default:
        return false;
    }
}

bool CTabletReturn::TakeStayed()
{
    const bool stayed = m_bStayed;
    m_bStayed = false;
    return stayed;
}
