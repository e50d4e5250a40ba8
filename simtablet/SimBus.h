#pragma once
// The simulated USB bus behind SimHidSystem: its devices, the handles,
// preparsed data, device information sets and notifications it hands out, the
// clock, the trace and the timeline of devices that come and go.
//
// Everything runs on the thread that made the bus; timed events and removal
// decisions reach that thread's message loop through the delivery window,
// whose own thread sends the reports.

#include "SimClock.h"
#include "SimDeliveryWindow.h"
#include "SimDevice.h"
#include "SimDeviceConfig.h"
#include "SimHandleTable.h"
#include "SimNotifications.h"
#include "SimTrace.h"
#include "WinHid.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SimBus {
public:
    explicit SimBus(SimClockKind clock);
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // The bus, by device name (compared without regard to case, as the
    // scenario file's section names are).
    void AddDevice(const SimDeviceConfig& config);
    bool Plug(const std::string& name);
    bool Unplug(const std::string& name, bool queryFirst);
    SimDevice* FindDevice(const std::string& name);
    const SimDevice* FindDevice(const std::string& name) const;
    unsigned OpenHandleCount(const std::string& name) const;
    unsigned RegistrationCount() const { return m_notifications.Count(); }

    SimClock& Clock() { return m_clock; }
    const SimClock& Clock() const { return m_clock; }
    SimTrace& Trace() { return m_trace; }
    const SimTrace& Trace() const { return m_trace; }
    void PumpMessages();
    unsigned PendingReportCount() const { return static_cast<unsigned>(m_delivery.PendingCount()); }

    // The system calls, with the Windows semantics.
    void HidD_GetHidGuid(LPGUID hidGuid);
    BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData);
    BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);
    BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
    NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps);
    BOOLEAN HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);
    BOOLEAN HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);
    BOOLEAN HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                  ULONG bufferLength);
    BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength);
    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, DWORD flags);
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                     const GUID* interfaceClassGuid, DWORD memberIndex,
                                     PSP_DEVICE_INTERFACE_DATA interfaceData);
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                          DWORD detailSize, PDWORD requiredSize,
                                          PSP_DEVINFO_DATA deviceInfoData);
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
    HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                       DWORD creationDisposition);
    BOOL CloseHandle(HANDLE handle);
    HDEVNOTIFY RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags);
    BOOL UnregisterDeviceNotification(HDEVNOTIFY notification);
    DWORD GetTickCount() { return m_clock.Read(); }
    void Sleep(DWORD milliseconds) { m_clock.Advance(milliseconds); }

private:
    static constexpr std::size_t kNoDevice = static_cast<std::size_t>(-1);

    struct OpenHandle {
        std::size_t device = 0;
        unsigned generation = 0; // the plug-in it was opened in
        DWORD access = 0;
        DWORD share = 0;
    };
    struct Preparsed {
        HIDP_CAPS caps{};
    };
    struct SetMember {
        std::size_t device = 0;
        std::string path;
        bool present = false;
    };
    struct DeviceSet {
        std::vector<SetMember> members;
    };
    struct TimedPlug {
        DWORD due = 0;
        std::size_t device = 0;
    };

    std::size_t FindDeviceIndex(const std::string& name) const;
    bool IsLive(const OpenHandle& handle) const;
    std::string MakeDevicePath(const SimDeviceConfig& config) const;
    void Record(const SimDevice& device, DWORD time, const char* call, std::string arguments,
                std::string result);
    void PlugDevice(std::size_t index);
    // Pulls the device out now, or with `queryFirst` asks its handle holders
    // and leaves the decision for when they have answered. `replug` brings it
    // back after its ReplugAfterMs once it is gone.
    void UnplugDevice(std::size_t index, bool queryFirst, bool replug);
    void DecideRemoval(std::size_t index, unsigned generation, bool denied, bool replug);
    void AfterTransfer(std::size_t index);
    // One Set Feature, Get Feature or string request through `device`: the
    // request reaches the device only through a live handle; every call on a
    // known handle is traced, `describe` turning the outcome into the result.
    BOOLEAN Transfer(HANDLE device, const char* call, std::string arguments,
                     const std::function<DWORD(SimDevice&)>& request,
                     const std::function<std::string(DWORD error)>& describe);

    void Schedule(DWORD due, std::size_t device);
    void ArmTimer();
    void OnTimer();
    void FireDueEvents();

    SimClock m_clock;
    SimTrace m_trace;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    SimHandleTable<OpenHandle> m_handles;
    SimHandleTable<Preparsed> m_preparsed;
    SimHandleTable<DeviceSet> m_sets;
    std::vector<TimedPlug> m_timeline;
    SimDeliveryWindow m_delivery; // before m_notifications, which queues into it
    SimNotifications m_notifications;
};
