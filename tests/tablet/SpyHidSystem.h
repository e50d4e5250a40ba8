#pragma once
// A HidSystem that passes every call on to another one (the simulated bus),
// logs the calls the simulator's trace does not show, keeps what the tablet
// link handed over, and fails chosen steps of opening one device path.

#include "HidSystem.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

class SpyHidSystem final : public HidSystem {
public:
    explicit SpyHidSystem(HidSystem& inner) : m_inner(inner) {}

    // Call names ("CreateFileA", "HidD_GetPreparsedData", "HidD_GetAttributes",
    // "HidP_GetCaps") that fail for `path`; "RegisterDeviceNotificationA"
    // fails for everyone.
    std::string failPath;
    std::set<std::string> failCalls;

    std::vector<std::string> log;          // "CreateFileA <path>", "CloseHandle", ...
    std::vector<DWORD> detailCbSizes;      // cbSize of every detail fetched
    std::vector<DEV_BROADCAST_HANDLE> handleFilters;
    unsigned hidGuidCalls = 0;
    // Runs after every Get Feature, as a message handled by a progress
    // display between two transfers would.
    std::function<void()> afterGetFeature;

    unsigned Count(const std::string& call) const;
    // Index of the first log line that starts with `prefix`, or -1.
    int Find(const std::string& prefix, int from = 0) const;

    void HidD_GetHidGuid(LPGUID hidGuid) override;
    BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) override;
    BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) override;
    BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) override;
    NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) override;
    BOOLEAN HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength) override;
    BOOLEAN HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength) override;
    BOOLEAN HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                  ULONG bufferLength) override;
    BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength) override
    {
        return m_inner.HidD_GetSerialNumberString(device, buffer, bufferLength);
    }
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
    BOOL MessageBeep(UINT type) override { return m_inner.MessageBeep(type); }
    DWORD GetTickCount() override { return m_inner.GetTickCount(); }
    void Sleep(DWORD milliseconds) override { m_inner.Sleep(milliseconds); }
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override
    {
        return m_inner.QueryPerformanceCounter(count);
    }
    BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override
    {
        return m_inner.QueryPerformanceFrequency(frequency);
    }

private:
    bool Fails(const std::string& call) const { return failCalls.count(call) != 0; }

    HidSystem& m_inner;
    HANDLE m_failHandle = INVALID_HANDLE_VALUE;
    PHIDP_PREPARSED_DATA m_failPreparsed = nullptr;
};
