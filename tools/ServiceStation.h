#pragma once
// The service station of a program the UI driver started (TabletUpdate.exe
// or its demo twin, in service mode).

#include "RemoteDialog.h"
#include "UiDriver.h"

#include <windows.h>

#include <string>

// The station's window, once it is up and has taken up the tablet (or found
// none): its dump is filled either way, and the taking-up is over, so its
// controls are the operator's. Null if it did not come in 20 s.
HWND WaitForStation(UiDriver& driver);

// True when no burst runs and the station's handler is over: its controls,
// the dump and the result line are as the operator finds them.
bool StationAtRest(const RemoteDialog& station);

// Checks the station's check box `box` (Auto Burn, Record), answers the file
// dialog it opens with `path`, and waits until `pathLine` beside the box
// shows the file. False when the station did not take it within 10 s.
bool ChooseStationFile(UiDriver& driver, const RemoteDialog& station, int box, int pathLine, const std::string& path);
