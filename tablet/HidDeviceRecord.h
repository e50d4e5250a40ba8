#pragma once
// One opened HID device: its handle, preparsed data, capabilities and
// attributes. The record owns the handle and the preparsed data and gives them
// back to the system when it is destroyed.

#include "HidSystem.h"

class HidDeviceRecord {
public:
    explicit HidDeviceRecord(HidSystem& system);
    ~HidDeviceRecord();
    HidDeviceRecord(const HidDeviceRecord&) = delete;
    HidDeviceRecord& operator=(const HidDeviceRecord&) = delete;

    HANDLE handle = INVALID_HANDLE_VALUE;
    PHIDP_PREPARSED_DATA preparsedData = nullptr;
    HIDP_CAPS caps{};
    HIDD_ATTRIBUTES attributes{};

private:
    HidSystem& m_system;
};
