#pragma once
// One WM_DEVICECHANGE waiting to be sent: the window, the event code, and the
// broadcast structure that lParam points to while the message is handled.

#include "WinHid.h"

#include <vector>

struct SimDeviceChangeReport {
    HWND target = nullptr;
    WPARAM event = 0;
    std::vector<BYTE> broadcast; // a DEV_BROADCAST_* structure, dbch_size bytes (or more)
};
