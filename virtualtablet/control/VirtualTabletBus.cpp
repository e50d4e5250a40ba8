#include "VirtualTabletBus.h"

#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const GUID kControlGuid = VT_CONTROL_GUID_INIT;
// The HID device interface class (HidD_GetHidGuid's answer).
const GUID kHidInterfaceGuid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct DeviceInfoSetCloser {
    void operator()(void* set) const { ::SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set)); }
};
using DeviceInfoSet = std::unique_ptr<void, DeviceInfoSetCloser>;

DeviceInfoSet PresentInterfaces(const GUID& guid)
{
    HDEVINFO set = ::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    return DeviceInfoSet(set == INVALID_HANDLE_VALUE ? nullptr : set);
}

// The device path of interface `index` of the set, empty when there is none.
std::string InterfacePath(HDEVINFO set, const GUID& guid, DWORD index)
{
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data))
        return std::string();
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || required > 4096)
        return std::string();
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr))
        return std::string();
    return std::string(detail->DevicePath, strnlen(detail->DevicePath, required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)));
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

} // namespace

VirtualTabletBus::~VirtualTabletBus()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_handle);
}

DWORD VirtualTabletBus::Open()
{
    if (IsOpen())
        return ERROR_SUCCESS;
    const DeviceInfoSet set = PresentInterfaces(kControlGuid);
    if (!set)
        return ::GetLastError();
    const std::string path = InterfacePath(static_cast<HDEVINFO>(set.get()), kControlGuid, 0);
    if (path.empty())
        return ERROR_NOT_FOUND;
    m_handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    return m_handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
}

DWORD VirtualTabletBus::Request(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength,
                                DWORD* returned)
{
    if (!IsOpen())
        return ERROR_INVALID_HANDLE;
    DWORD bytes = 0;
    const BOOL ok = ::DeviceIoControl(m_handle, code, const_cast<void*>(in), inLength, out, outLength, &bytes, nullptr);
    if (returned != nullptr)
        *returned = bytes;
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

DWORD VirtualTabletBus::Plug(const TabletPlugConfig& config)
{
    VT_PLUG_CONFIG raw{};
    raw.size = sizeof(raw);
    raw.vendorId = config.vendorId;
    raw.productId = config.productId;
    raw.versionNumber = config.versionNumber;
    raw.usagePage = config.usagePage;
    raw.usage = config.usage;
    raw.featureReportByteLength = config.featureReportByteLength;
    if (config.firmware.size() > VT_FIRMWARE_CHARS)
        return ERROR_INVALID_PARAMETER;
    raw.firmwareChars = static_cast<unsigned short>(config.firmware.size());
    for (size_t i = 0; i < config.firmware.size(); ++i)
        raw.firmware[i] = static_cast<unsigned short>(config.firmware[i]);
    return Request(VT_IOCTL_PLUG, &raw, sizeof(raw), nullptr, 0, nullptr);
}

DWORD VirtualTabletBus::Unplug()
{
    return Request(VT_IOCTL_UNPLUG, nullptr, 0, nullptr, 0, nullptr);
}

DWORD VirtualTabletBus::SetEeprom(const TabletEeprom& bytes)
{
    return Request(VT_IOCTL_SET_EEPROM, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, 0, nullptr);
}

DWORD VirtualTabletBus::GetEeprom(TabletEeprom& bytes)
{
    DWORD returned = 0;
    const DWORD error =
        Request(VT_IOCTL_GET_EEPROM, nullptr, 0, bytes.data(), static_cast<DWORD>(bytes.size()), &returned);
    if (error == ERROR_SUCCESS && returned != bytes.size())
        return ERROR_INVALID_DATA;
    return error;
}

DWORD VirtualTabletBus::SetFaults(const TabletFaults& faults)
{
    VT_FAULTS raw{};
    raw.size = sizeof(raw);
    raw.failGetAt = faults.failGetAt;
    raw.failGetStatus = faults.failGetStatus;
    raw.failSetAt = faults.failSetAt;
    raw.failSetStatus = faults.failSetStatus;
    raw.stuckAddress = faults.stuckAddress;
    raw.latencyMs = faults.latencyMs;
    raw.unplugAfterTransfers = faults.unplugAfterTransfers;
    raw.replugAfterMs = faults.replugAfterMs;
    return Request(VT_IOCTL_SET_FAULTS, &raw, sizeof(raw), nullptr, 0, nullptr);
}

DWORD VirtualTabletBus::GetStatus(VT_STATUS& status)
{
    DWORD returned = 0;
    status = VT_STATUS{};
    const DWORD error = Request(VT_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof(status), &returned);
    if (error == ERROR_SUCCESS && (returned != sizeof(status) || status.size != sizeof(status)))
        return ERROR_INVALID_DATA;
    return error;
}

DWORD VirtualTabletBus::ReadTrace(ULONG from, std::vector<VT_TRACE_RECORD>& records)
{
    constexpr DWORD kBatch = 256;
    std::vector<unsigned char> buffer(sizeof(VT_TRACE_HEADER) + kBatch * sizeof(VT_TRACE_RECORD));
    records.clear();
    for (;;) {
        DWORD returned = 0;
        const DWORD error = Request(VT_IOCTL_READ_TRACE, &from, sizeof(from), buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &returned);
        if (error != ERROR_SUCCESS)
            return error;
        VT_TRACE_HEADER header{};
        if (returned < sizeof(header))
            return ERROR_INVALID_DATA;
        std::memcpy(&header, buffer.data(), sizeof(header));
        // The count is the bus's word; the bytes returned bound what is read.
        const size_t fit = (returned - sizeof(header)) / sizeof(VT_TRACE_RECORD);
        const size_t count = std::min<size_t>(header.count, fit);
        for (size_t i = 0; i < count; ++i) {
            VT_TRACE_RECORD record;
            std::memcpy(&record, buffer.data() + sizeof(header) + i * sizeof(record), sizeof(record));
            records.push_back(record);
        }
        if (count == 0 || header.next <= from + count)
            return ERROR_SUCCESS;
        from = records.back().sequence + 1;
    }
}

DWORD VirtualTabletBus::Reset()
{
    return Request(VT_IOCTL_RESET, nullptr, 0, nullptr, 0, nullptr);
}

DWORD VirtualTabletBus::SetSerial(const std::optional<std::wstring>& serial)
{
    VT_SERIAL raw{};
    raw.size = sizeof(raw);
    if (serial) {
        if (serial->size() > VT_SERIAL_CHARS)
            return ERROR_INVALID_PARAMETER;
        raw.present = 1;
        raw.chars = static_cast<unsigned short>(serial->size());
        for (size_t i = 0; i < serial->size(); ++i)
            raw.text[i] = static_cast<unsigned short>((*serial)[i]);
    }
    return Request(VT_IOCTL_SET_SERIAL, &raw, sizeof(raw), nullptr, 0, nullptr);
}

std::string TabletInterfacePath(USHORT vendorId, USHORT productId)
{
    char wanted[32];
    std::snprintf(wanted, sizeof(wanted), "vid_%04x&pid_%04x", vendorId, productId);
    const DeviceInfoSet set = PresentInterfaces(kHidInterfaceGuid);
    if (!set)
        return std::string();
    for (DWORD index = 0;; ++index) {
        const std::string path = InterfacePath(static_cast<HDEVINFO>(set.get()), kHidInterfaceGuid, index);
        if (path.empty() || Lower(path).find(wanted) != std::string::npos)
            return path;
    }
}

bool TabletInterfacePresent(USHORT vendorId, USHORT productId)
{
    return !TabletInterfacePath(vendorId, productId).empty();
}

bool WaitForTabletInterface(USHORT vendorId, USHORT productId, bool present, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    while (TabletInterfacePresent(vendorId, productId) != present) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::Sleep(20);
    }
    return true;
}
