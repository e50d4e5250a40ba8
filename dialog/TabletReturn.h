#pragma once
// What the device changes tell the dialog about its tablet leaving and coming
// back, beyond what their classification posts.
//
// Windows sends device changes ahead of posted messages. A tablet unplugged
// and plugged back while the dialog is busy has its completed removal heard
// (and the removal posted), but its arrival comes while the tablet still
// counts as open, and the classification drops it. And a removal that another
// program refused brings back a tablet that never left: taken up again, it is
// not burned a second time.

#include <windows.h>

class CTabletReturn {
public:
    // Called with every device change and what the classification made of
    // it (1 arrival, -1 removal, 0 nothing). True when the change is a HID
    // interface arrival that was dropped although our tablet's removal had
    // completed: the dialog takes it up as an arrival.
    bool Heard(DWORD eventType, LPARAM eventData, int change, const GUID& hidGuid);

    // True once after a refused removal: the arrival that takes the tablet
    // up again is the same tablet.
    bool TakeStayed();

private:
    bool m_bGone = false;   // our tablet's removal completed; no arrival taken up since
    bool m_bStayed = false; // our tablet's removal was refused
};
