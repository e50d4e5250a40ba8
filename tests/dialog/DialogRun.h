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

// The dialog as it stood each time its progress bar was moved.
struct ProgressStep {
    int position = 0;
    int end = 0;                    // the bar's upper limit
    size_t writes = 0;              // SetFeature calls the tablet had seen by then
    bool dialogVisible = false;
    bool dialogCentred = false;     // on its monitor's work area, to a pixel
    std::vector<std::string> texts; // the dialog's visible static texts
    bool boxOpen = false;           // a message box was open
};

struct DialogRun {
    INT_PTR result = -1;
    std::vector<MessageBoxRecord> boxes;
    std::vector<UINT> tabletMessages; // WM_TABLET_ARRIVED / WM_TABLET_REMOVED, as retrieved
    std::vector<DeviceChangeAnswer> deviceChanges;
    std::vector<ProgressStep> progress;
    // IDOK commands the dialog received while no message box was open, and
    // whether a click on Exit was posted to it during the write.
    unsigned exitCommandsBeforeBox = 0;
    bool clickPosted = false;
};

// Called while each message box is open, inside its message loop.
using WhileBoxOpen = std::function<void(SimHidSystem&, CUpdateDlg&, const MessageBoxRecord&)>;

// With `clickExitDuringWrite`, a mouse click on Exit is posted to the dialog
// once the write has begun, as an impatient user's would be queued; only such
// a run records the progress bar's steps and the IDOK commands.
DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen = {},
                          bool clickExitDuringWrite = false);

// The trace lines of one call kind, e.g. "SetFeature".
std::vector<SimTraceEntry> CallsOf(const SimHidSystem& sim, const std::string& call);
