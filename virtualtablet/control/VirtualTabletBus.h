#pragma once
// The user-mode side of the virtual tablet bus: opens its control interface
// and sends the requests of VirtualTabletIoctl.h. Used by the real-stack
// tests and by the vtablet tool.
//
// Every call returns a Win32 error code, 0 for success: the bus's NTSTATUS
// as DeviceIoControl reports it (STATUS_DEVICE_ALREADY_ATTACHED when the
// tablet is plugged in already, STATUS_NO_SUCH_DEVICE (error 433) when there is none to
// unplug, STATUS_INVALID_PARAMETER for a request the bus refuses).

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "VirtualTabletIoctl.h"

// The tablet at plug time; the defaults are the supported tablet as the
// simulated bus's default tablet is set up.
struct TabletPlugConfig {
    USHORT vendorId = 0x6A3D;
    USHORT productId = 0x0042;
    USHORT versionNumber = 0x0100;
    USHORT usagePage = 0x0001;
    USHORT usage = 0x0000;
    USHORT featureReportByteLength = 8;
    std::wstring firmware = L"R514 V2.03 2009/11/27";
};

struct TabletFaults {
    ULONG failGetAt = 0;                    // the Nth Get Feature fails; 0 = never
    LONG failGetStatus = static_cast<LONG>(0xC0000001L); // STATUS_UNSUCCESSFUL
    ULONG failSetAt = 0;
    LONG failSetStatus = static_cast<LONG>(0xC0000001L);
    LONG stuckAddress = -1;
    ULONG latencyMs = 0;
    ULONG unplugAfterTransfers = 0;
    LONG replugAfterMs = -1;
};

using TabletEeprom = std::array<BYTE, VT_EEPROM_SIZE>;

class VirtualTabletBus {
public:
    VirtualTabletBus() = default;
    ~VirtualTabletBus();
    VirtualTabletBus(const VirtualTabletBus&) = delete;
    VirtualTabletBus& operator=(const VirtualTabletBus&) = delete;

    // Finds and opens the bus's control interface. ERROR_NOT_FOUND when no
    // bus is installed (or its driver did not start) in this prefix.
    DWORD Open();
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

    DWORD Plug(const TabletPlugConfig& config);
    DWORD Unplug();
    DWORD SetEeprom(const TabletEeprom& bytes);
    DWORD GetEeprom(TabletEeprom& bytes);
    DWORD SetFaults(const TabletFaults& faults);
    DWORD GetStatus(VT_STATUS& status);
    // Every record from sequence number `from` on, in order.
    DWORD ReadTrace(ULONG from, std::vector<VT_TRACE_RECORD>& records);
    // Faults off, counts and trace cleared; only while unplugged.
    DWORD Reset();
    // The USB serial number string the tablet reports from its next plug-in
    // on; nullopt: none. Only while unplugged (ERROR_BUSY otherwise).
    DWORD SetSerial(const std::optional<std::wstring>& serial);

    // Sends a raw request, for tests of the bus's own checks.
    DWORD Request(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// The device path of the HID interface of a device with this vendor and
// product id (SetupAPI's view, as a program sees it); empty when none is
// present.
std::string TabletInterfacePath(USHORT vendorId, USHORT productId);
bool TabletInterfacePresent(USHORT vendorId, USHORT productId);
// Polls TabletInterfacePresent until it equals `present`; false on timeout.
bool WaitForTabletInterface(USHORT vendorId, USHORT productId, bool present, DWORD timeoutMs);
