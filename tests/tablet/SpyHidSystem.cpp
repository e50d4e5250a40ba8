#include "SpyHidSystem.h"

unsigned SpyHidSystem::Count(const std::string& call) const
{
    unsigned n = 0;
    for (const std::string& line : log)
        n += line.compare(0, call.size(), call) == 0 ? 1 : 0;
    return n;
}

int SpyHidSystem::Find(const std::string& prefix, int from) const
{
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(log.size()); ++i) {
        if (log[i].compare(0, prefix.size(), prefix) == 0)
            return i;
    }
    return -1;
}

void SpyHidSystem::HidD_GetHidGuid(LPGUID hidGuid)
{
    ++hidGuidCalls;
    m_inner.HidD_GetHidGuid(hidGuid);
}

BOOLEAN SpyHidSystem::HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData)
{
    log.push_back("HidD_GetPreparsedData");
    if (device == m_failHandle && Fails("HidD_GetPreparsedData"))
        return FALSE;
    const BOOLEAN ok = m_inner.HidD_GetPreparsedData(device, preparsedData);
    if (ok && device == m_failHandle)
        m_failPreparsed = *preparsedData;
    return ok;
}

BOOLEAN SpyHidSystem::HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData)
{
    log.push_back("HidD_FreePreparsedData");
    return m_inner.HidD_FreePreparsedData(preparsedData);
}

BOOLEAN SpyHidSystem::HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    // A failed call may still have written its output: only the result says
    // it failed. So the failure leaves the device's real attributes behind.
    const BOOLEAN ok = m_inner.HidD_GetAttributes(device, attributes);
    if (device == m_failHandle && Fails("HidD_GetAttributes"))
        return FALSE;
    return ok;
}

NTSTATUS SpyHidSystem::HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps)
{
    if (preparsedData == m_failPreparsed && Fails("HidP_GetCaps"))
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    return m_inner.HidP_GetCaps(preparsedData, caps);
}

BOOLEAN SpyHidSystem::HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    return m_inner.HidD_SetFeature(device, reportBuffer, reportBufferLength);
}

BOOLEAN SpyHidSystem::HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    const BOOLEAN ok = m_inner.HidD_GetFeature(device, reportBuffer, reportBufferLength);
    if (afterGetFeature)
        afterGetFeature();
    return ok;
}

BOOLEAN SpyHidSystem::HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                            ULONG bufferLength)
{
    return m_inner.HidD_GetIndexedString(device, stringIndex, buffer, bufferLength);
}

HDEVINFO SpyHidSystem::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                            DWORD flags)
{
    log.push_back("SetupDiGetClassDevsA");
    return m_inner.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}

BOOL SpyHidSystem::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                               const GUID* interfaceClassGuid, DWORD memberIndex,
                                               PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    return m_inner.SetupDiEnumDeviceInterfaces(set, deviceInfoData, interfaceClassGuid,
                                               memberIndex, interfaceData);
}

BOOL SpyHidSystem::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                    PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                    DWORD detailSize, PDWORD requiredSize,
                                                    PSP_DEVINFO_DATA deviceInfoData)
{
    if (detail != nullptr)
        detailCbSizes.push_back(detail->cbSize);
    return m_inner.SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                    requiredSize, deviceInfoData);
}

BOOL SpyHidSystem::SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    log.push_back("SetupDiDestroyDeviceInfoList");
    return m_inner.SetupDiDestroyDeviceInfoList(set);
}

HANDLE SpyHidSystem::CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile)
{
    const std::string path = fileName != nullptr ? fileName : "";
    log.push_back("CreateFileA " + path);
    const bool target = !failPath.empty() && path == failPath;
    if (target && Fails("CreateFileA"))
        return INVALID_HANDLE_VALUE;
    const HANDLE handle = m_inner.CreateFileA(fileName, desiredAccess, shareMode, security,
                                              creationDisposition, flagsAndAttributes,
                                              templateFile);
    if (target)
        m_failHandle = handle;
    return handle;
}

BOOL SpyHidSystem::CloseHandle(HANDLE handle)
{
    log.push_back("CloseHandle");
    return m_inner.CloseHandle(handle);
}

HDEVNOTIFY SpyHidSystem::RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags)
{
    log.push_back("RegisterDeviceNotificationA");
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_HANDLE)
        handleFilters.push_back(*static_cast<const DEV_BROADCAST_HANDLE*>(filter));
    if (Fails("RegisterDeviceNotificationA"))
        return nullptr;
    return m_inner.RegisterDeviceNotificationA(recipient, filter, flags);
}

BOOL SpyHidSystem::UnregisterDeviceNotification(HDEVNOTIFY notification)
{
    log.push_back("UnregisterDeviceNotification");
    return m_inner.UnregisterDeviceNotification(notification);
}
