#pragma once
// The report a WM_DEVICECHANGE carries (lParam), read only as far as its
// sender says it reaches.
//
// Any program on the desktop can send the dialog a WM_DEVICECHANGE, and
// Windows copies the report between processes by its dbch_size: a report
// that says it is shorter than the structure its dbch_devicetype names ends
// where it says, and reading that structure's fields would read past it.

#include "WinHid.h"

namespace DeviceBroadcast {

// The report as a device interface report (arrival or removal of an
// interface); null when there is none, it is of another type, or it is too
// short to hold the class GUID.
const DEV_BROADCAST_DEVICEINTERFACE_A* Interface(LPARAM eventData);

// The report as a handle report (a RegisterDeviceNotification for a handle);
// null when there is none, it is of another type, or it is too short to hold
// the handle and the notification.
const DEV_BROADCAST_HANDLE* Handle(LPARAM eventData);

} // namespace DeviceBroadcast
