#pragma once
// Owns one RegisterDeviceNotificationA registration and releases it through
// the same system when reset or destroyed.

#include "HidSystem.h"

class DeviceNotification {
public:
    explicit DeviceNotification(HidSystem& system) : m_system(system) {}
    ~DeviceNotification() { Reset(); }
    DeviceNotification(const DeviceNotification&) = delete;
    DeviceNotification& operator=(const DeviceNotification&) = delete;

    // Registers `filter` for `recipient` (a window), releasing any earlier
    // registration first. Returns whether a registration is now held.
    bool Register(HWND recipient, void* filter)
    {
        Reset();
        m_handle = m_system.RegisterDeviceNotificationA(recipient, filter,
                                                        DEVICE_NOTIFY_WINDOW_HANDLE);
        return m_handle != nullptr;
    }

    void Reset()
    {
        if (m_handle != nullptr) {
            m_system.UnregisterDeviceNotification(m_handle);
            m_handle = nullptr;
        }
    }

    HDEVNOTIFY Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    HidSystem& m_system;
    HDEVNOTIFY m_handle = nullptr;
};
