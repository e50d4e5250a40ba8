#pragma once
#include "HidLibrary.h"
#include "HidSystem.h"
#include "SetupLibrary.h"

#include <memory>

// The production system: every call goes straight to the real Windows
// function, hid.dll's and setupapi.dll's through the copies `hid` and `setup`
// found in the system directory.
class Win32HidSystem final : public HidSystem {
public:
    Win32HidSystem(std::unique_ptr<HidLibrary> hid, std::unique_ptr<SetupLibrary> setup);

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
    std::unique_ptr<HidLibrary> m_hid;
    std::unique_ptr<SetupLibrary> m_setup;
};
