#pragma once
// The RegisterDeviceNotificationA registrations on the simulated bus, and the
// WM_DEVICECHANGE reports that a plug or an unplug owes them.

#include "SimDeliveryWindow.h"
#include "SimHandleTable.h"
#include "WinHid.h"

#include <cstddef>
#include <string>

class SimNotifications {
public:
    explicit SimNotifications(SimDeliveryWindow& delivery);

    // An interface registration hears arrivals and removals of interfaces of
    // `classGuid` (of every class when `allClasses`).
    HDEVNOTIFY AddInterface(HWND recipient, const GUID& classGuid, bool allClasses);
    // A handle registration hears the removal of the device behind `handle`,
    // in the plug-in generation the handle was opened in.
    HDEVNOTIFY AddHandle(HWND recipient, HANDLE handle, std::size_t device, unsigned generation);
    bool Remove(HDEVNOTIFY notification);
    unsigned Count() const { return static_cast<unsigned>(m_registrations.Size()); }

    // Queues DBT_DEVICEARRIVAL for every interface registration.
    void QueueArrival(const std::string& path);
    // An orderly removal asks first: queues DBT_DEVICEQUERYREMOVE for every
    // handle registration of the device's generation.
    void QueueQueries(std::size_t device, unsigned generation);
    // The removal was refused: DBT_DEVICEQUERYREMOVEFAILED for the same
    // registrations, those that are still held.
    void QueueQueryFailed(std::size_t device, unsigned generation);
    // The device is gone: DBT_DEVICEREMOVECOMPLETE for every handle
    // registration of its generation, then for every interface registration.
    void QueueRemoval(std::size_t device, unsigned generation, const std::string& path);

private:
    struct Registration {
        HWND recipient = nullptr;
        bool forHandle = false;
        GUID classGuid{};
        bool allClasses = false;
        HANDLE handle = nullptr;
        std::size_t device = 0;
        unsigned generation = 0;
    };

    void QueueHandleReports(WPARAM event, std::size_t device, unsigned generation);
    void QueueInterfaceReports(WPARAM event, const std::string& path);
    static std::vector<BYTE> InterfaceBroadcast(const std::string& path);
    static std::vector<BYTE> HandleBroadcast(HANDLE handle, HDEVNOTIFY notification);

    SimDeliveryWindow& m_delivery;
    SimHandleTable<Registration> m_registrations;
};
