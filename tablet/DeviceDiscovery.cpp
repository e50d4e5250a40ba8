#include "DeviceDiscovery.h"

#include "DeviceInfoSet.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

namespace {

bool Matches(USHORT actual, USHORT wanted)
{
    return wanted == 0xFFFF || actual == wanted;
}

} // namespace

BOOL OpenMatchingDevice(HidSystem& system, const char* devicePath, USHORT vendorId,
                        USHORT productId, USHORT usagePage, USHORT usage,
                        std::unique_ptr<HidDeviceRecord>& record)
{
    record.reset();
    if (devicePath == nullptr)
        return FALSE;

    // Everything acquired below is released by the candidate's destructor when
    // it is not handed out.
    std::unique_ptr<HidDeviceRecord> candidate(new (std::nothrow) HidDeviceRecord(system));
    if (!candidate)
        return FALSE;

    // Shared access, so a device some other program also holds open (every
    // mouse and keyboard, to begin with) can still be looked at; one that
    // refuses sharing is simply not ours to use.
    candidate->handle = system.CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
    if (candidate->handle == INVALID_HANDLE_VALUE)
        return FALSE;

    if (!system.HidD_GetPreparsedData(candidate->handle, &candidate->preparsedData)) {
        candidate->preparsedData = nullptr;
        return FALSE;
    }

    candidate->attributes.Size = sizeof(candidate->attributes);
    const bool haveAttributes = system.HidD_GetAttributes(candidate->handle,
                                                          &candidate->attributes) != FALSE;
    if (system.HidP_GetCaps(candidate->preparsedData, &candidate->caps) != HIDP_STATUS_SUCCESS)
        return FALSE;
    if (!haveAttributes)
        return FALSE;

    if (!Matches(candidate->attributes.VendorID, vendorId) ||
        !Matches(candidate->attributes.ProductID, productId) ||
        !Matches(candidate->caps.UsagePage, usagePage) || !Matches(candidate->caps.Usage, usage))
        return FALSE;

    record = std::move(candidate);
    return TRUE;
}

std::unique_ptr<HidDeviceRecord> FindTabletDevice(HidSystem& system, USHORT vendorId,
                                                  USHORT productId, USHORT usagePage,
                                                  USHORT usage)
{
    GUID hidGuid{};
    system.HidD_GetHidGuid(&hidGuid);

    DeviceInfoSet set(system, hidGuid);
    std::unique_ptr<HidDeviceRecord> record;
    if (!set.IsValid())
        return record;

    constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    for (DWORD index = 0;
         system.SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &hidGuid, index, &interfaceData);
         ++index) {
        // Asking with no buffer fails with ERROR_INSUFFICIENT_BUFFER by design;
        // only the size it reports matters.
        DWORD required = 0;
        system.SetupDiGetDeviceInterfaceDetailA(set.Get(), &interfaceData, nullptr, 0, &required,
                                                nullptr);
        if (required <= kPathOffset)
            continue;

        // The fixed part is padded to 8 bytes on x64, which can exceed what a
        // very short path needs; the buffer must hold the structure either way.
        std::vector<BYTE> buffer;
        try {
            buffer.resize(std::max<std::size_t>(required,
                                                sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
        } catch (const std::bad_alloc&) {
            return record;
        }
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        // SetupAPI checks cbSize against the fixed part's own size, not the
        // buffer's: anything else fails with ERROR_INVALID_USER_BUFFER.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!system.SetupDiGetDeviceInterfaceDetailA(set.Get(), &interfaceData, detail,
                                                     static_cast<DWORD>(buffer.size()), nullptr,
                                                     nullptr))
            continue;
        buffer.back() = 0; // never trust the path to be terminated inside the buffer
        if (OpenMatchingDevice(system, detail->DevicePath, vendorId, productId, usagePage, usage,
                               record))
            break;
    }
    return record;
}
