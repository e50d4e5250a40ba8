#pragma once
// The device side of the operating system, as one interface.
//
// Everything the tablet link and the dialog ask of Windows' HID class driver,
// device setup API, device-path file I/O, device notifications, clocks and
// the station's sounds goes through this class. Win32HidSystem forwards each
// call to the real function; SimHidSystem serves the same calls from a
// simulated USB bus.
// Methods carry the Windows names and signatures one to one, so code written
// against this interface reads like the Win32 calls it makes.

#include "WinHid.h"

class HidSystem {
public:
    virtual ~HidSystem() = default;

    // hid.dll
    virtual void HidD_GetHidGuid(LPGUID hidGuid) = 0;
    virtual BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) = 0;
    virtual BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) = 0;
    virtual BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) = 0;
    virtual NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) = 0;
    virtual BOOLEAN HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength) = 0;
    virtual BOOLEAN HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength) = 0;
    virtual BOOLEAN HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                          ULONG bufferLength) = 0;
    // The device's USB serial number string, UTF-16 with its terminator;
    // `bufferLength` in bytes. Fails for a device that has none, and writes
    // nothing when the whole string does not fit.
    virtual BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength) = 0;

    // setupapi.dll
    virtual HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                          DWORD flags) = 0;
    virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                             const GUID* interfaceClassGuid, DWORD memberIndex,
                                             PSP_DEVICE_INTERFACE_DATA interfaceData) = 0;
    virtual BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                  PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                  DWORD detailSize, PDWORD requiredSize,
                                                  PSP_DEVINFO_DATA deviceInfoData) = 0;
    virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

    // kernel32.dll, for device paths only
    virtual HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                               LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;

    // user32.dll
    virtual HDEVNOTIFY RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter,
                                                   DWORD flags) = 0;
    virtual BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) = 0;
    // The station's burn verdict, heard: the sound Windows plays for a
    // message box of that icon, queued and played asynchronously.
    virtual BOOL MessageBeep(UINT type) = 0;

    // kernel32.dll, the clocks. The high-resolution counter paces writes;
    // Sleep gives the tablet its settling time.
    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    virtual BOOL QueryPerformanceCounter(LARGE_INTEGER* count) = 0;
    virtual BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) = 0;
};
