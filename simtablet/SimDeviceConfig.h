#pragma once
// How one simulated HID device is set up: identity, reports, initial EEPROM
// and the faults it injects. Filled by hand in tests or from a scenario file.

#include "TabletProtocol.h"
#include "WinHid.h"

#include <array>
#include <string>

enum class SimDeviceKind {
    Tablet,  // answers the EEPROM protocol and indexed strings 20, 21, 98
    Generic, // a mouse, a keyboard, another product: knows no report 4, no strings
};

struct SimDeviceConfig {
    std::string name = "Tablet"; // section name; the device's name in the trace
    SimDeviceKind kind = SimDeviceKind::Tablet;
    USHORT vendorId = TabletProtocol::kVendorId;
    USHORT productId = TabletProtocol::kProductId;
    USHORT usagePage = TabletProtocol::kUsagePage;
    USHORT usage = TabletProtocol::kUsage;
    USHORT featureReportByteLength = 8;
    USHORT versionNumber = 0x0100; // HIDD_ATTRIBUTES.VersionNumber
    std::string firmware = "R514 V2.03 2009/11/27"; // indexed string 98; a USB string keeps
                                                    // at most 126 characters
    std::string serialNumber;                       // the USB serial number string; empty = the
                                                    // device has none (at most 126 characters)
    UINT firmwareCodePage = CP_ACP;                 // the code page `firmware` and `serialNumber`
                                                    // are written in
    std::array<BYTE, 256> eeprom = DefaultEeprom();

    int stuckAddress = -1;             // writes to this address do not stick; -1 = none
    // Counts run over every call made through a live handle of the device,
    // whichever handle, since the device was added.
    unsigned failReadAt = 0;           // the Nth Get Feature fails (1-based); 0 = never
    unsigned failWriteAt = 0;          // the Nth Set Feature fails (1-based); 0 = never
    unsigned unplugAfterTransfers = 0; // unplugged right after its Nth Set Feature, Get Feature
                                       // or string request, which is served normally; 0 = never
    int replugAfterMs = -1;            // plugged back this long after that unplug; -1 = never
    bool removeOrderly = false;        // that unplug is an orderly removal: asked first, and
                                       // refused while a handle is still open
    bool queryRemoveFails = false;     // every orderly removal is refused, as when another
                                       // program holds the device
    int plugInAfterMs = -1;            // absent at start, arrives this long after start; -1 = present
    bool exclusive = false;            // refuses a shared read/write open
    DWORD latencyMs = 0;               // added to the clock by every transfer

    // A plain HID mouse: another vendor, the generic desktop page's mouse
    // usage, no feature reports. The most common neighbour of the tablet.
    static SimDeviceConfig Mouse(const std::string& deviceName = "Mouse")
    {
        SimDeviceConfig config;
        config.name = deviceName;
        config.kind = SimDeviceKind::Generic;
        config.vendorId = 0x046D;
        config.productId = 0xC077;
        config.usagePage = 0x0001;
        config.usage = 0x0002;
        config.featureReportByteLength = 0;
        return config;
    }

    static std::array<BYTE, 256> DefaultEeprom()
    {
        std::array<BYTE, 256> bytes{};
        bytes.fill(0xFF);
        return bytes;
    }
};
