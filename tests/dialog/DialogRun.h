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
class WindowDpiSystem;

struct DeviceChangeAnswer {
    WPARAM event;
    LRESULT result;
};

// The dialog as it stood each time its progress bar was painted (while no
// message box was open), and at the first write.
struct ProgressStep {
    int position = 0;
    int end = 0;                    // the bar's upper limit
    size_t writes = 0;              // SetFeature calls the tablet had seen by then
    size_t transfers = 0;           // and all its transfers
    bool dialogVisible = false;
    bool dialogCentred = false;     // on its monitor's work area, to a pixel
    std::vector<std::string> texts; // the dialog's visible static texts
};

struct DialogRun {
    INT_PTR result = -1;
    std::vector<MessageBoxRecord> boxes;
    std::vector<UINT> tabletMessages; // WM_TABLET_ARRIVED / WM_TABLET_REMOVED, as retrieved
    std::vector<DeviceChangeAnswer> deviceChanges;
    std::vector<LRESULT> sessionAnswers; // to each WM_QUERYENDSESSION
    std::vector<std::string> fileDialogs; // titles of the file dialogs answered
    std::vector<ProgressStep> progress;
    ProgressStep atFirstWrite;
    // IDOK commands the dialog received while no message box was open, and
    // whether a click on Exit was posted to it during the write.
    unsigned exitCommandsBeforeBox = 0;
    bool clickPosted = false;
};

// Called while each message box is open, inside its message loop.
using WhileBoxOpen = std::function<void(SimHidSystem&, CUpdateDlg&, const MessageBoxRecord&)>;

// With `clickExitDuringWrite`, a mouse click on Exit is posted to the dialog
// at the first write, as an impatient user's would be queued; only such a run
// records the progress bar's steps, the dialog at the first write and the
// IDOK commands. With `dpi`, the dialog reads its DPIs through it.
DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen = {},
                          bool clickExitDuringWrite = false, WindowDpiSystem* dpi = nullptr);

// What an operator does at the service station, run inside the dialog's own
// message loop once the tablet already plugged in has been taken up. Message
// boxes are read and answered by the watcher, and file dialogs answered with
// the paths queued on it. A dialog the script leaves open is cancelled.
using OperatorScript = std::function<void(SimHidSystem&, CUpdateDlg&, MessageBoxWatcher&)>;

DialogRun RunServiceDialog(SimHidSystem& sim, OperatorScript script, WindowDpiSystem* dpi = nullptr);

// The operator's hand on the panel: a click on a button or check box, text
// typed over a field, a control's text. Each returns when the dialog has
// handled it.
void Click(CUpdateDlg& dlg, int id);
void Type(CUpdateDlg& dlg, int id, const std::string& text);
std::string TextOf(CUpdateDlg& dlg, int id);
std::vector<std::string> DumpLines(CUpdateDlg& dlg);
// Runs the thread's message loop until `condition` holds; false after the timeout.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// Sends as the session manager does, from another thread: the dialog gets
// the message when its thread next retrieves messages, here from a loop
// run until the answer is back.
LRESULT SendAsTheSession(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam = 0);

// Called from inside a burst's transfer, after another thread began to send
// the dialog a message: waits until the send is queued, then long enough for
// the burst's next look at its queue to answer it.
void LetTheBurstAnswer();

// The trace lines of one call kind, e.g. "SetFeature".
std::vector<SimTraceEntry> CallsOf(const SimHidSystem& sim, const std::string& call);

// Called from inside a message box's loop: delivers the device changes the bus
// holds and handles every message waiting in the thread's queue, as that loop
// would, so a test can look at the dialog between two device changes.
void HandlePendingMessages(SimHidSystem& sim);

// The trace as steps: "Open Tablet", "String 20" for an indexed string, and
// one step per run of reads or writes at ascending addresses: "Get 0..255".
std::vector<std::string> TrafficShape(const SimHidSystem& sim);

// What the user sees of the dialog, and the traffic that led there.
struct DialogView {
    std::string result;
    std::string dataRead;
    std::vector<std::string> dump;
    bool exitEnabled = false;
    bool setEnabled = false;
    std::vector<std::string> traffic;
};
DialogView ViewOf(const CUpdateDlg& dlg, const SimHidSystem& sim);

// The dialog as it behaves where it stays open: registered for HID interface
// arrivals as for the update, but without the update itself. Its own message
// loop plays the steps one after another, each once the work the previous
// one set off has been handled. If no step ends the dialog, it ends with
// kStillOpen after the last.
using DialogStep = std::function<void(SimHidSystem&, CUpdateDlg&)>;
constexpr INT_PTR kStillOpen = 0x5700;
DialogRun RunOpenDialog(SimHidSystem& sim, const std::vector<DialogStep>& steps);
