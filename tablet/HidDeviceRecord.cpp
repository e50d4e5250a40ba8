#include "HidDeviceRecord.h"

HidDeviceRecord::HidDeviceRecord(HidSystem& system) : m_system(system) {}

// The preparsed data belongs to the open handle, so it goes first.
HidDeviceRecord::~HidDeviceRecord()
{
    if (preparsedData != nullptr)
        m_system.HidD_FreePreparsedData(preparsedData);
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        m_system.CloseHandle(handle);
}
