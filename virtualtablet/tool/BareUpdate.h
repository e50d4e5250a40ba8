#pragma once
// The transfers of one one-shot update (string 98, 256 reads, string 20,
// 256 writes, 256 reads), made by a bare loop through hid.dll with no window:
// what the transfers alone cost on this HID stack, the part of the
// benchmark's floor that is not the program's own pacing.
//
// Paced (a write delay given), the loop also waits as the program does: a
// busy wait on the high-resolution counter after each write, and 300 ms
// asleep before the read-back. A HID stack may answer a request that follows
// a pause more slowly than one that follows another request at once (its
// threads have gone to sleep and must be woken); the paced loop shows that
// cost without any of the program's own work.

#include <windows.h>

#include <string>

struct BareUpdateResult {
    bool ok = false;
    std::string error;        // when not ok
    unsigned transfers = 0;   // requests that succeeded
    double elapsedMs = 0;     // first request to last answer
};

// The burst writes back the bytes the first reading found, so the tablet
// ends as it began.
BareUpdateResult RunBareUpdate(USHORT vendorId, USHORT productId, DWORD writeDelayMs = 0);
