#pragma once
// A scenario file: the bus, its devices, their faults and their timeline, in
// INI form, read with the system's profile functions.
//
//   [Bus]
//   Devices=Tablet, Mouse      ; section names, in enumeration order
//   Clock=virtual              ; or real (the default)
//
//   [Tablet]
//   Kind=tablet                ; or generic (default tablet)
//   FailWriteAt=17
//
// Device keys: Kind, VendorID, ProductID, UsagePage, Usage, VersionNumber,
// FeatureReportByteLength, Firmware, EepromFile, StuckAddress, FailReadAt,
// FailWriteAt, UnplugAfterTransfers, ReplugAfterMs, PlugInAfterMs, Exclusive,
// LatencyMs. Numbers are decimal or 0x hex; a key that is absent or empty
// keeps its default. A tablet defaults to the supported tablet's identity; a
// generic device's ids and usages default to 0. Keys the loader does not
// know are ignored.

#include "SimClockKind.h"
#include "SimDeviceConfig.h"

#include <string>
#include <vector>

struct SimScenario {
    SimClockKind clock = SimClockKind::Real;
    std::vector<SimDeviceConfig> devices;

    // Fills `scenario` from the file at `iniPath` (relative to the current
    // folder). False, with an error naming the file, section and key, when
    // the file is missing or holds something unusable.
    static bool Load(const std::string& iniPath, SimScenario* scenario, std::string* error);
};
