#pragma once
// The virtual tablet as a test sets it up and reads it back: the bus opened,
// a tablet left from an earlier test unplugged, faults and counts cleared,
// the EEPROM set; then plugged in and waited for as a program would see it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TraceLines.h"
#include "VirtualTabletBus.h"

class VirtualTabletSession {
public:
    // Unplugged, with `initial` in the EEPROM, `faults` set and no serial
    // number string.
    testing::AssertionResult Prepare(const TabletEeprom& initial, const TabletFaults& faults = {});
    // Plugged in, and its HID interface listed by SetupAPI.
    testing::AssertionResult PlugIn(const TabletPlugConfig& config = {});
    testing::AssertionResult Unplug();

    std::vector<TraceLine> Trace();
    TabletEeprom Eeprom();
    VT_STATUS Status();
    VirtualTabletBus& Bus() { return m_bus; }

private:
    VirtualTabletBus m_bus;
    TabletPlugConfig m_plugged;
};

// The bytes the program writes into an erased tablet: its image over 0..247,
// the tablet's own bytes 248..255.
TabletEeprom ExpectedAfterUpdate(const TabletEeprom& before);
// 0xFF over 0..247 (an erased part) and a recognisable pattern over 248..255,
// which no update may touch.
TabletEeprom ErasedWithOwnTail();
