#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HeldKey.h"
#include "IconIdentifier.h"
#include "MessageBoxIcon.h"
#include "UniqueHandle.h"

// One message box as a user saw it, in the order the boxes appeared.
struct SeenMessageBox
{
    std::string caption;
    std::string text;                 // line breaks as the program wrote them
    MessageBoxIcon icon = MessageBoxIcon::None;
    IconEvidence iconEvidence = IconEvidence::NoIcon;
    bool pressed = false;             // false: left up (no OK button, or pressing was off)
};

struct UiRunOptions
{
    std::string commandLine;          // as for CreateProcessA: program first, quoted if needed
    std::vector<std::pair<std::string, std::string>> environment;  // added to, or replacing, ours
    std::string workingDirectory;     // empty: ours
    DWORD timeoutMs = 30000;
    DWORD pressDelayMs = 0;           // how long each box stays up before OK is pressed
    bool pressOk = true;
    // Shift is held from before the start until the program shows its first window.
    bool holdShift = false;
    // Called once per box, after it has been read and before it is answered.
    std::function<void(const SeenMessageBox&)> onMessageBox;
    // Called once per distinct text of a visible static control in another
    // visible window (a progress window's line, say), as it is first seen.
    std::function<void(const std::string& caption, const std::string& text)> onWindowText;
};

enum class RunOutcome
{
    Exited,
    TimedOut,      // the program was killed
    StartFailed,
};

struct UiRunResult
{
    RunOutcome outcome = RunOutcome::StartFailed;
    DWORD exitCode = 0;               // when Exited
    DWORD startError = 0;             // when StartFailed: CreateProcessA's last error
    std::vector<SeenMessageBox> messageBoxes;
    std::vector<std::string> otherWindows;  // titles of other visible top-level windows, once each
    std::vector<std::string> fileDialogs;   // titles of the file dialogs shown, in order
    std::vector<std::string> otherWindowTexts;  // their static texts, each distinct one once
    SIZE_T peakWorkingSetBytes = 0;   // when Exited: the program's peak working set
    SIZE_T peakPrivateBytes = 0;      // and its peak private (committed) memory
};

// Drives a GUI program from outside, like a user: starts it, reads and answers
// each message box it shows, and waits for it to end.
class UiDriver
{
public:
    explicit UiDriver(UiRunOptions options);
    // A program still running (a test that stopped half way) is killed.
    ~UiDriver();
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    UiRunResult Run();

    // The same run in steps, for driving the program's own windows meanwhile:
    // Start, then any number of waits, then Finish. Message boxes and file
    // dialogs are handled during every wait.
    bool Start();
    DWORD ProcessId() const { return m_processId; }
    // Polls until `condition` holds (true) or the program ends or the time
    // is up (false).
    bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
    // The next file dialog is answered with `path`; an empty path cancels it.
    // A file dialog with no answer queued is left up.
    void AnswerFileDialog(const std::string& path) { m_fileAnswers.push_back(path); }
    // Waits for the program to end (killing it after the run's timeout).
    UiRunResult Finish();

private:
    struct TrackedWindow
    {
        bool isMessageBox = false;
        size_t boxIndex = 0;          // into m_result.messageBoxes
        DWORD firstSeenTick = 0;
        bool settled = false;         // fields read and the callback made
        bool answered = false;
        bool isFileDialog = false;
    };

    void Scan(DWORD processId);
    void SampleMemory(HANDLE process);
    TrackedWindow Track(HWND window);
    void Advance(HWND window, TrackedWindow& tracked);
    void ReadStaticTexts(HWND window);
    void Settle(TrackedWindow& tracked);
    void Forget();
    void AnswerFileDialog(HWND window, TrackedWindow& tracked);
    bool PollOnce();

    UiRunOptions m_options;
    IconIdentifier m_icons;
    std::map<HWND, TrackedWindow> m_windows;
    UiRunResult m_result;
    UniqueHandle m_process;
    UniqueHandle m_thread;
    DWORD m_processId = 0;
    DWORD m_startTick = 0;
    bool m_ended = false;
    std::unique_ptr<HeldKey> m_shift;
    std::deque<std::string> m_fileAnswers;
};
