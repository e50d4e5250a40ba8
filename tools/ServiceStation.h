#pragma once
// The service station of a program the UI driver started (TabletUpdate.exe
// or its demo twin, in service mode).

#include "UiDriver.h"

#include <windows.h>

// The station's window, once it is up and has taken up the tablet (or found
// none): its dump is filled either way. Null if it did not come in 20 s.
HWND WaitForStation(UiDriver& driver);
