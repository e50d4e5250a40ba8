#include "TabletReturn.h"

#include <dbt.h>

#include <cstring>

bool CTabletReturn::Heard(DWORD eventType, LPARAM eventData, int change, const GUID& hidGuid)
{
    switch (eventType) {
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
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(eventData);
        if (change != 0 || !m_bGone || header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
            return false;
        const auto* report = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
        if (std::memcmp(&report->dbcc_classguid, &hidGuid, sizeof(hidGuid)) != 0)
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
