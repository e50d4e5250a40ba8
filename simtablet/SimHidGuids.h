#pragma once
// The GUIDs the simulated bus reports, with the values Windows uses.

#include "WinHid.h"

// The HID device interface class, as HidD_GetHidGuid returns it.
inline const GUID kSimHidInterfaceGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The HIDClass device setup class, reported in SP_DEVINFO_DATA.ClassGuid.
inline const GUID kSimHidSetupClassGuid = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
