#include "SimNotifications.h"

#include "SimHidGuids.h"

#include <cstddef>
#include <cstring>
#include <vector>

SimNotifications::SimNotifications(SimDeliveryWindow& delivery)
    : m_delivery(delivery), m_registrations(0x6D3D0000, 0x10)
{
}

HDEVNOTIFY SimNotifications::AddInterface(HWND recipient, const GUID& classGuid, bool allClasses)
{
    Registration registration;
    registration.recipient = recipient;
    registration.classGuid = classGuid;
    registration.allClasses = allClasses;
    return reinterpret_cast<HDEVNOTIFY>(m_registrations.Add(registration));
}

HDEVNOTIFY SimNotifications::AddHandle(HWND recipient, HANDLE handle, std::size_t device,
                                       unsigned generation)
{
    Registration registration;
    registration.recipient = recipient;
    registration.forHandle = true;
    registration.handle = handle;
    registration.device = device;
    registration.generation = generation;
    return reinterpret_cast<HDEVNOTIFY>(m_registrations.Add(registration));
}

bool SimNotifications::Remove(HDEVNOTIFY notification)
{
    return m_registrations.Remove(notification);
}

void SimNotifications::QueueArrival(const std::string& path)
{
    QueueInterfaceReports(DBT_DEVICEARRIVAL, path);
}

void SimNotifications::QueueQueries(std::size_t device, unsigned generation)
{
    QueueHandleReports(DBT_DEVICEQUERYREMOVE, device, generation);
}

void SimNotifications::QueueQueryFailed(std::size_t device, unsigned generation)
{
    QueueHandleReports(DBT_DEVICEQUERYREMOVEFAILED, device, generation);
}

void SimNotifications::QueueRemoval(std::size_t device, unsigned generation,
                                    const std::string& path)
{
    // Every handle holder hears that the device is gone before the
    // interface's removal is announced.
    QueueHandleReports(DBT_DEVICEREMOVECOMPLETE, device, generation);
    QueueInterfaceReports(DBT_DEVICEREMOVECOMPLETE, path);
}

void SimNotifications::QueueHandleReports(WPARAM event, std::size_t device, unsigned generation)
{
    for (const auto& [value, registration] : m_registrations.Items()) {
        if (!registration.forHandle || registration.device != device ||
            registration.generation != generation || !::IsWindow(registration.recipient))
            continue;
        SimDeviceChangeReport report;
        report.target = registration.recipient;
        report.event = event;
        report.broadcast = HandleBroadcast(registration.handle, reinterpret_cast<HDEVNOTIFY>(value));
        m_delivery.Queue(std::move(report));
    }
}

void SimNotifications::QueueInterfaceReports(WPARAM event, const std::string& path)
{
    for (const auto& entry : m_registrations.Items()) {
        const Registration& registration = entry.second;
        if (registration.forHandle || !::IsWindow(registration.recipient))
            continue;
        // Every device on this bus is a HID interface.
        if (!registration.allClasses &&
            !::IsEqualGUID(registration.classGuid, kSimHidInterfaceGuid))
            continue;
        SimDeviceChangeReport report;
        report.target = registration.recipient;
        report.event = event;
        report.broadcast = InterfaceBroadcast(path);
        m_delivery.Queue(std::move(report));
    }
}

std::vector<BYTE> SimNotifications::InterfaceBroadcast(const std::string& path)
{
    // dbcc_size counts the name and its terminator, not the padding that
    // sizeof adds after the one-character dbcc_name.
    const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1;
    std::vector<BYTE> bytes(size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)
                                ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)
                                : size,
                            0);
    DEV_BROADCAST_DEVICEINTERFACE_A header{};
    header.dbcc_size = static_cast<DWORD>(size);
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header.dbcc_classguid = kSimHidInterfaceGuid;
    std::memcpy(bytes.data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name), path.c_str(),
                path.size() + 1);
    return bytes;
}

std::vector<BYTE> SimNotifications::HandleBroadcast(HANDLE handle, HDEVNOTIFY notification)
{
    DEV_BROADCAST_HANDLE broadcast{};
    broadcast.dbch_size = sizeof(broadcast);
    broadcast.dbch_devicetype = DBT_DEVTYP_HANDLE;
    broadcast.dbch_handle = handle;
    broadcast.dbch_hdevnotify = notification;
    std::vector<BYTE> bytes(sizeof(broadcast));
    std::memcpy(bytes.data(), &broadcast, sizeof(broadcast));
    return bytes;
}
