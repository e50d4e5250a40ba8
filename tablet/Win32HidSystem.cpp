#include "Win32HidSystem.h"

#include <utility>

Win32HidSystem::Win32HidSystem(std::unique_ptr<HidLibrary> hid, std::unique_ptr<SetupLibrary> setup)
    : m_hid(std::move(hid)), m_setup(std::move(setup))
{
}

void Win32HidSystem::HidD_GetHidGuid(LPGUID hidGuid)
{
    m_hid->HidD_GetHidGuid(hidGuid);
}

BOOLEAN Win32HidSystem::HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData)
{
    return m_hid->HidD_GetPreparsedData(device, preparsedData);
}

BOOLEAN Win32HidSystem::HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData)
{
    return m_hid->HidD_FreePreparsedData(preparsedData);
}

BOOLEAN Win32HidSystem::HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    return m_hid->HidD_GetAttributes(device, attributes);
}

NTSTATUS Win32HidSystem::HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps)
{
    return m_hid->HidP_GetCaps(preparsedData, caps);
}

BOOLEAN Win32HidSystem::HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    return m_hid->HidD_SetFeature(device, reportBuffer, reportBufferLength);
}

BOOLEAN Win32HidSystem::HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    return m_hid->HidD_GetFeature(device, reportBuffer, reportBufferLength);
}

BOOLEAN Win32HidSystem::HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                              ULONG bufferLength)
{
    return m_hid->HidD_GetIndexedString(device, stringIndex, buffer, bufferLength);
}

BOOLEAN Win32HidSystem::HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength)
{
    return m_hid->HidD_GetSerialNumberString(device, buffer, bufferLength);
}

HDEVINFO Win32HidSystem::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                              DWORD flags)
{
    return m_setup->SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}

BOOL Win32HidSystem::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                                 PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    return m_setup->SetupDiEnumDeviceInterfaces(set, deviceInfoData, interfaceClassGuid, memberIndex,
                                                interfaceData);
}

BOOL Win32HidSystem::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                      PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                      DWORD detailSize, PDWORD requiredSize,
                                                      PSP_DEVINFO_DATA deviceInfoData)
{
    return m_setup->SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize, requiredSize,
                                                     deviceInfoData);
}

BOOL Win32HidSystem::SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return m_setup->SetupDiDestroyDeviceInfoList(set);
}

HANDLE Win32HidSystem::CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                   DWORD flagsAndAttributes, HANDLE templateFile)
{
    return ::CreateFileA(fileName, desiredAccess, shareMode, security, creationDisposition,
                         flagsAndAttributes, templateFile);
}

BOOL Win32HidSystem::CloseHandle(HANDLE handle)
{
    return ::CloseHandle(handle);
}

HDEVNOTIFY Win32HidSystem::RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags)
{
    return ::RegisterDeviceNotificationA(recipient, filter, flags);
}

BOOL Win32HidSystem::UnregisterDeviceNotification(HDEVNOTIFY notification)
{
    return ::UnregisterDeviceNotification(notification);
}

BOOL Win32HidSystem::MessageBeep(UINT type)
{
    return ::MessageBeep(type);
}

DWORD Win32HidSystem::GetTickCount()
{
    return ::GetTickCount();
}

void Win32HidSystem::Sleep(DWORD milliseconds)
{
    ::Sleep(milliseconds);
}

BOOL Win32HidSystem::QueryPerformanceCounter(LARGE_INTEGER* count)
{
    return ::QueryPerformanceCounter(count);
}

BOOL Win32HidSystem::QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    return ::QueryPerformanceFrequency(frequency);
}
