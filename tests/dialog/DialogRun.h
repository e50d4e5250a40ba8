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

// The dialog as it behaves where it stays open: registered for HID interface
// arrivals as for the update, but without the update itself. Its
// own message loop plays the steps one after another, each once the work the
// previous one set off has been handled. A step that ends the dialog is the
// last to run; if none does, the dialog ends with kStillOpen.
using DialogStep = std::function<void(SimHidSystem&, CUpdateDlg&)>;
constexpr INT_PTR kStillOpen = 0x5700;
DialogRun RunOpenDialog(SimHidSystem& sim, const std::vector<DialogStep>& steps);

// The trace lines of one call kind, e.g. "SetFeature".
std::vector<SimTraceEntry> CallsOf(const SimHidSystem& sim, const std::string& call);

// Called from inside a message box's loop: delivers the device changes the bus
// holds and handles every message that waits in the thread's queue, as that
// loop would, so a test can look at the dialog between two device changes.
void HandlePendingMessages(SimHidSystem& sim);

// The trace as steps a reader can check at a glance: plugging, opening and
// closing name the device ("Open Tablet"), an indexed string its index
// ("String 20"), and each run of reads or writes at ascending addresses
// becomes one step with its first and last address ("Get 0..255", "Set 7").
std::vector<std::string> TrafficShape(const SimHidSystem& sim);

// What the dialog shows: its result line, the dump's lines, and whether Exit
// and Set can be pressed.
struct DialogView {
    std::string result;
    std::vector<std::string> dump;
    bool exitEnabled = false;
    bool setEnabled = false;
};
DialogView ViewOf(const CUpdateDlg& dlg);
