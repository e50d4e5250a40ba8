#pragma once
// Runs the update dialog modally over a simulated bus, with real windows,
// and records what a user and the operating system would have seen: every
// message box, the dialog's result, the private messages it posted to itself
// and the answer it gave to every WM_DEVICECHANGE.

#include "MessageBoxWatcher.h"
#include "SimHidSystem.h"

#include <functional>
#include <string>
#include <vector>

class CUpdateDlg;

struct DeviceChangeAnswer {
    WPARAM event;
    LRESULT result;
};

struct DialogRun {
    INT_PTR result = -1;
    std::vector<MessageBoxRecord> boxes;
    std::vector<UINT> tabletMessages; // WM_TABLET_ARRIVED / WM_TABLET_REMOVED, as retrieved
    std::vector<DeviceChangeAnswer> deviceChanges;
};

// Called while each message box is open, inside its message loop.
using WhileBoxOpen = std::function<void(SimHidSystem&, CUpdateDlg&, const MessageBoxRecord&)>;

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen = {});

// The trace lines of one call kind, e.g. "SetFeature".
std::vector<SimTraceEntry> CallsOf(const SimHidSystem& sim, const std::string& call);
