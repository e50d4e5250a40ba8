#pragma once
// The simulated USB bus with its HID devices, served through the system seam.
//
// Devices answer as the tablet (or another HID device) would behind the HID
// class driver, including the driver's own checks. Plugging and unplugging
// send WM_DEVICECHANGE to the windows registered for it, as Windows does:
// from a thread of the simulator's own, so the report reaches the window when
// its thread next pumps messages (any message loop counts, a message box's
// too), ahead of anything posted, and never from inside a HID call. An unplug
// takes effect at once; only its report waits.
//
// The bus belongs to the thread that makes it: its reports and timed events
// arrive through that thread's message loop, and every call must come from it.

#include "HidSystem.h"
#include "SimClockKind.h"
#include "SimDeviceConfig.h"
#include "SimTraceEntry.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SimBus;

class SimHidSystem final : public HidSystem {
public:
    explicit SimHidSystem(SimClockKind clock = SimClockKind::Virtual);
    ~SimHidSystem() override;
    SimHidSystem(const SimHidSystem&) = delete;
    SimHidSystem& operator=(const SimHidSystem&) = delete;

    // Builds the bus a scenario file describes ([Bus] Devices=..., Clock=...,
    // one section per device). Returns null and sets `error` when the file
    // cannot be used.
    static std::unique_ptr<SimHidSystem> FromScenario(const std::string& iniPath, std::string* error);
    // The demo's bus: the scenario file named by TABLETSIM_SCENARIO (without
    // it, one healthy supported tablet named "Tablet" on the real clock), traced
    // to the file named by TABLETSIM_TRACE if that is set. Returns null and
    // sets `error` when either cannot be used.
    static std::unique_ptr<SimHidSystem> FromEnvironment(std::string* error);

    // The bus. Devices enumerate in the order they were added. A device is
    // present at once unless its plugInAfterMs is set. Names are compared
    // without regard to case; adding a second device of the same name throws
    // std::invalid_argument.
    void AddDevice(const SimDeviceConfig& config);
    bool Plug(const std::string& name);                           // arrival, now
    // A removal. Without queryFirst the device is gone now. With it the
    // removal is orderly: each handle holder is sent DBT_DEVICEQUERYREMOVE
    // first, and the device goes only if none denied and no handle to it is
    // open once all have answered (nor queryRemoveFails is set); otherwise
    // they are sent DBT_DEVICEQUERYREMOVEFAILED and it stays.
    bool Unplug(const std::string& name, bool queryFirst = false);
    bool IsPlugged(const std::string& name) const;
    std::string DevicePath(const std::string& name) const;

    // The tablet model's state, for assertions and set-up. Eeprom and
    // SetEepromByte throw std::out_of_range for an unknown name or address.
    const std::array<BYTE, 256>& Eeprom(const std::string& name) const;
    void SetEepromByte(const std::string& name, unsigned address, BYTE value);
    bool AccessOpen(const std::string& name) const;
    unsigned OpenHandleCount(const std::string& name) const; // handles not yet closed, dead ones too
    unsigned RegistrationCount() const; // live RegisterDeviceNotificationA registrations

    // The clock.
    SimClockKind ClockKind() const;
    DWORD Now() const;
    void Advance(DWORD milliseconds); // the real clock waits them out

    // The traffic trace, and optionally a file that receives each line as it happens.
    const std::vector<SimTraceEntry>& Trace() const;
    void ClearTrace();
    bool SetTraceFile(const std::string& path);
    // Sees each trace line from inside the call it records, so a test can
    // look at what the caller's thread shows at that moment (its cursor, say).
    void SetTraceObserver(std::function<void(const SimTraceEntry&)> observer);

    // The sounds MessageBeep played, by type, in the order they played. The
    // simulator makes no noise itself.
    const std::vector<UINT>& Sounds() const;

    // Fires the due timed events and takes messages until every queued
    // device-change report has been handled, as a message loop would. Tests
    // without a message loop of their own use it.
    void PumpMessages();
    // Device-change reports not yet handled (a report counts until its
    // SendMessage has returned) and removals not yet decided.
    unsigned PendingReportCount() const;

    // HidSystem
    void HidD_GetHidGuid(LPGUID hidGuid) override;
    BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) override;
    BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) override;
    BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) override;
    NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) override;
    BOOLEAN HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength) override;
    BOOLEAN HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength) override;
    BOOLEAN HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                  ULONG bufferLength) override;
    BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength) override;
    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                  DWORD flags) override;
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                     const GUID* interfaceClassGuid, DWORD memberIndex,
                                     PSP_DEVICE_INTERFACE_DATA interfaceData) override;
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                          DWORD detailSize, PDWORD requiredSize,
                                          PSP_DEVINFO_DATA deviceInfoData) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
    HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                       LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                       DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    HDEVNOTIFY RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) override;
    BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) override;
    BOOL MessageBeep(UINT type) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override;
    BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override;

private:
    std::unique_ptr<SimBus> m_bus;
    std::vector<UINT> m_sounds;
};
