#pragma once
// What the tablet link's tests share: a window to own device notifications,
// and views of the simulated bus's traffic trace.

#include "SimHidSystem.h"

#include <cstdio>
#include <string>
#include <vector>

// A message-only window to receive device notifications in the dialog's
// place; it needs no display.
class OwnerWindow {
public:
    OwnerWindow()
        : m_hWnd(::CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ::GetModuleHandleA(nullptr), nullptr))
    {
    }
    ~OwnerWindow()
    {
        if (m_hWnd != nullptr)
            ::DestroyWindow(m_hWnd);
    }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND Get() const { return m_hWnd; }

private:
    HWND m_hWnd;
};

// The trace lines of one call kind ("SetFeature", ...), optionally of one device.
inline std::vector<SimTraceEntry> TraceOf(const SimHidSystem& sim, const std::string& call,
                                          const std::string& device = std::string())
{
    std::vector<SimTraceEntry> lines;
    for (const SimTraceEntry& entry : sim.Trace()) {
        if (entry.call == call && (device.empty() || entry.device == device))
            lines.push_back(entry);
    }
    return lines;
}

// Transfers and access requests: everything that reaches a device as a request.
inline std::vector<SimTraceEntry> DeviceRequests(const SimHidSystem& sim)
{
    std::vector<SimTraceEntry> lines;
    for (const SimTraceEntry& entry : sim.Trace()) {
        if (entry.call == "SetFeature" || entry.call == "GetFeature" ||
            entry.call == "GetIndexedString")
            lines.push_back(entry);
    }
    return lines;
}

inline std::string TraceText(const SimHidSystem& sim)
{
    std::string text;
    for (const SimTraceEntry& entry : sim.Trace())
        text += entry.ToLine() + "\n";
    return text;
}

// "04 08 55 5D 00 00 00 00" for a report of `length` bytes.
inline std::string HexBytes(const std::vector<unsigned>& bytes)
{
    std::string text;
    char part[4];
    for (unsigned byte : bytes) {
        std::snprintf(part, sizeof(part), "%02X", byte & 0xFF);
        if (!text.empty())
            text += ' ';
        text += part;
    }
    return text;
}

inline SimDeviceConfig Device(const std::string& name)
{
    SimDeviceConfig config;
    config.name = name;
    return config;
}

inline SimDeviceConfig Mouse(const std::string& name)
{
    return SimDeviceConfig::Mouse(name);
}
