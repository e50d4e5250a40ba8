#pragma once
// One line of the simulated bus's traffic trace.

#include "WinHid.h"

#include <string>

struct SimTraceEntry {
    DWORD timeMs = 0;      // the simulator's clock, ms since start
    std::string device;    // the device's section name
    std::string call;      // SetFeature, GetFeature, GetIndexedString, Open, Close, Plug, Unplug
    std::string arguments; // "04 08 55 5D 00 00 00 00", "len=8", "98", a device path, or empty
    std::string result;    // "1", "0", "1 FF" (GetFeature: result and byte 0)

    // "12 Tablet SetFeature 04 08 55 5D 00 00 00 00 -> 1"; no argument, no extra blank.
    std::string ToLine() const;
};
