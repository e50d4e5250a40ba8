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
    std::vector<std::string> fileDialogs; // titles of the file dialogs answered
};

// Called while each message box is open, inside its message loop.
using WhileBoxOpen = std::function<void(SimHidSystem&, CUpdateDlg&, const MessageBoxRecord&)>;

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen = {});

// What an operator does at the service station, run inside the dialog's own
// message loop once the tablet already plugged in has been taken up. Message
// boxes are read and answered by the watcher, and file dialogs answered with
// the paths queued on it. A dialog the script leaves open is cancelled.
using OperatorScript = std::function<void(SimHidSystem&, CUpdateDlg&, MessageBoxWatcher&)>;

DialogRun RunServiceDialog(SimHidSystem& sim, OperatorScript script);

// The operator's hand on the panel: a click on a button or check box, text
// typed over a field, a control's text. Each returns when the dialog has
// handled it.
void Click(CUpdateDlg& dlg, int id);
void Type(CUpdateDlg& dlg, int id, const std::string& text);
std::string TextOf(CUpdateDlg& dlg, int id);
std::vector<std::string> DumpLines(CUpdateDlg& dlg);
// Runs the thread's message loop until `condition` holds; false after the timeout.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// The trace lines of one call kind, e.g. "SetFeature".
std::vector<SimTraceEntry> CallsOf(const SimHidSystem& sim, const std::string& call);
