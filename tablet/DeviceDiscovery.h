#pragma once
// Finding and opening a HID device by vendor, product and top-level usage.
// A criterion of 0xFFFF matches every value.

#include "HidDeviceRecord.h"

#include <memory>

// The first matching HID interface in enumeration order, opened; null if none.
std::unique_ptr<HidDeviceRecord> FindTabletDevice(HidSystem& system, USHORT vendorId,
                                                  USHORT productId, USHORT usagePage,
                                                  USHORT usage);

// Opens the device at `devicePath` and keeps it in `record` when it matches;
// otherwise returns FALSE and leaves `record` empty.
BOOL OpenMatchingDevice(HidSystem& system, const char* devicePath, USHORT vendorId,
                        USHORT productId, USHORT usagePage, USHORT usage,
                        std::unique_ptr<HidDeviceRecord>& record);
