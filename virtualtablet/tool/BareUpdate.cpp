#include "BareUpdate.h"

#include "VirtualTabletBus.h"

#include <setupapi.h>

// hidsdi.h first: it brings the types hidpi.h uses (the order the
// program's tablet/WinHid.h keeps too).
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct HandleCloser {
    void operator()(void* handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct PreparsedCloser {
    void operator()(_HIDP_PREPARSED_DATA* data) const { ::HidD_FreePreparsedData(data); }
};

OwnedHandle OpenTablet(USHORT vendorId, USHORT productId)
{
    const std::string path = TabletInterfacePath(vendorId, productId);
    if (path.empty())
        return nullptr;
    HANDLE device = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    return OwnedHandle(device == INVALID_HANDLE_VALUE ? nullptr : device);
}

// As long as the program's pause after a write: spinning, no messages.
void PauseAfterWrite(const LARGE_INTEGER& frequency, DWORD delayMs)
{
    LARGE_INTEGER start, now;
    ::QueryPerformanceCounter(&start);
    const LONGLONG wanted = (static_cast<LONGLONG>(delayMs) * frequency.QuadPart + 999) / 1000;
    do {
        ::QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < wanted);
}

// The program's wait for the tablet to settle before it reads back.
constexpr DWORD kSettleMs = 300;

} // namespace

BareUpdateResult RunBareUpdate(USHORT vendorId, USHORT productId, DWORD writeDelayMs)
{
    BareUpdateResult result;
    const OwnedHandle device = OpenTablet(vendorId, productId);
    if (!device) {
        result.error = "no tablet with that vendor and product id is present";
        return result;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!::HidD_GetPreparsedData(device.get(), &preparsed)) {
        result.error = "HidD_GetPreparsedData failed";
        return result;
    }
    const std::unique_ptr<_HIDP_PREPARSED_DATA, PreparsedCloser> ownedPreparsed(preparsed);
    HIDP_CAPS caps{};
    if (::HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS || caps.FeatureReportByteLength < 4) {
        result.error = "the tablet's feature report is unusable";
        return result;
    }
    const ULONG reportLength = caps.FeatureReportByteLength;
    std::vector<BYTE> report(263 > reportLength ? 263 : reportLength);
    wchar_t scratch[128];
    BYTE image[256] = {};
    auto read = [&](unsigned address) {
        std::fill(report.begin(), report.end(), 0);
        report[0] = 0x04;
        if (::HidD_GetFeature(device.get(), report.data(), address + 8))
            ++result.transfers;
        return report[0];
    };

    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (::HidD_GetIndexedString(device.get(), 98, scratch, sizeof(scratch)))
        ++result.transfers;
    for (unsigned address = 0; address < 256; ++address)
        image[address] = read(address);
    if (::HidD_GetIndexedString(device.get(), 20, scratch, sizeof(scratch)))
        ++result.transfers;
    for (unsigned address = 0; address < 256; ++address) {
        std::fill(report.begin(), report.end(), 0);
        const BYTE code = static_cast<BYTE>(address + 8);
        report[0] = 0x04;
        report[1] = code;
        report[2] = image[address];
        report[3] = static_cast<BYTE>(code ^ image[address]);
        if (::HidD_SetFeature(device.get(), report.data(), reportLength))
            ++result.transfers;
        if (writeDelayMs != 0)
            PauseAfterWrite(frequency, writeDelayMs);
    }
    if (writeDelayMs != 0)
        ::Sleep(kSettleMs);
    for (unsigned address = 0; address < 256; ++address)
        read(address);
    ::QueryPerformanceCounter(&end);
    result.elapsedMs = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    result.ok = true;
    return result;
}
