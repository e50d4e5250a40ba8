#pragma once
// Owns one SetupAPI device information set and destroys it through the same
// system that made it.

#include "HidSystem.h"

class DeviceInfoSet {
public:
    // Takes the set of present device interfaces of `interfaceClass`.
    DeviceInfoSet(HidSystem& system, const GUID& interfaceClass);
    ~DeviceInfoSet();
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool IsValid() const { return m_set != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return m_set; }

private:
    HidSystem& m_system;
    HDEVINFO m_set;
};
