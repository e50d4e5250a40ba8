#pragma once
// One simulated HID device on the bus: what the HID class driver checks on
// its behalf, and what the device itself answers (the tablet's EEPROM
// protocol and strings, or nothing at all for a generic device), with the
// faults its configuration asks for.

#include "SimDeviceConfig.h"
#include "WinHid.h"

#include <array>
#include <cstddef>
#include <string>

class SimDevice {
public:
    // A USB string descriptor holds at most 126 UTF-16 characters.
    static constexpr std::size_t kMaxStringChars = 126;
    // The largest buffer the class driver takes for a string request
    // (2^12 - 3 bytes, as HidD_GetSerialNumberString's documentation says).
    static constexpr ULONG kMaxStringBufferBytes = 4093;

    SimDevice(const SimDeviceConfig& config, std::string path);

    const SimDeviceConfig& Config() const { return m_config; }
    const std::string& Name() const { return m_config.name; }
    const std::string& Path() const { return m_path; }

    // Presence. Every plug-in starts a new generation: handles and handle
    // notifications of an earlier one stay dead after the device comes back.
    bool IsPlugged() const { return m_plugged; }
    bool WasEverPresent() const { return m_everPresent; }
    unsigned Generation() const { return m_generation; }
    void PlugIn();
    void Unplug();

    std::array<BYTE, 256>& Eeprom() { return m_eeprom; }
    const std::array<BYTE, 256>& Eeprom() const { return m_eeprom; }
    bool AccessOpen() const { return m_accessOpen; }

    // Requests that came in through a live handle. Each returns ERROR_SUCCESS
    // or the error code the caller sees.
    DWORD SetFeature(const BYTE* report, ULONG length);
    DWORD GetFeature(BYTE* report, ULONG length);
    DWORD GetIndexedString(ULONG index, void* buffer, ULONG length);
    DWORD GetSerialNumberString(void* buffer, ULONG length);

    // Counts one transfer; true when it is the one after which the device is
    // pulled out (UnplugAfterTransfers).
    bool CountTransfer();

private:
    DWORD CheckFeatureRequest(const BYTE* report, ULONG length) const;
    bool FindString(ULONG index, std::wstring* text) const;
    static DWORD CopyString(const std::wstring& text, void* buffer, ULONG length);

    SimDeviceConfig m_config;
    std::string m_path;
    std::wstring m_firmware;
    std::wstring m_serialNumber;
    std::array<BYTE, 256> m_eeprom;
    bool m_plugged = false;
    bool m_everPresent = false;
    unsigned m_generation = 0;
    bool m_accessOpen = false;
    unsigned m_setCount = 0;
    unsigned m_getCount = 0;
    unsigned m_transferCount = 0;
};
