#include "UiDriver.h"

#include <psapi.h>

#include <algorithm>

#include "EnvironmentBlock.h"
#include "FileDialogWindow.h"
#include "MessageBoxWindow.h"

namespace
{
constexpr DWORD kPollMs = 20;
// How long a box may stay unpainted before its icon counts as unknown.
constexpr DWORD kIconSettleMs = 1500;
constexpr DWORD kKillWaitMs = 5000;
constexpr UINT kKilledExitCode = 124;
constexpr DWORD kFileDialogSettleMs = 200;

struct WindowSearch
{
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == search.processId && ::IsWindowVisible(window))
        search.windows.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleTopLevelWindows(DWORD processId)
{
    WindowSearch search{processId, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}
}

UiDriver::UiDriver(UiRunOptions options) : m_options(std::move(options))
{
}

UiDriver::~UiDriver()
{
    m_shift.reset();
    if (m_process && !m_ended && ::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT)
    {
        ::TerminateProcess(m_process.Get(), kKilledExitCode);
        ::WaitForSingleObject(m_process.Get(), kKillWaitMs);
    }
}

UiRunResult UiDriver::Run()
{
    if (!Start())
        return m_result;
    return Finish();
}

bool UiDriver::Start()
{
    m_result = UiRunResult();
    m_windows.clear();
    m_ended = false;

    std::string environment;
    if (!m_options.environment.empty())
    {
        EnvironmentBlock block = EnvironmentBlock::FromCurrentProcess();
        for (const auto& variable : m_options.environment)
            block.Set(variable.first, variable.second);
        environment = block.Block();
    }
    // Down before the program starts, so that its first look finds it held.
    if (m_options.holdShift)
        m_shift = std::make_unique<HeldKey>(static_cast<WORD>(VK_SHIFT));
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    // Wine, on a loaded machine, now and then fails a process start with
    // ERROR_INTERNAL_ERROR and succeeds when asked again; any other error is
    // the answer.
    BOOL created = FALSE;
    for (int attempt = 0; attempt < 3 && !created; ++attempt)
    {
        if (attempt > 0)
        {
            if (::GetLastError() != ERROR_INTERNAL_ERROR)
                break;
            ::Sleep(200);
        }
        // CreateProcessA may write into the command line: a fresh copy each time.
        std::vector<char> commandLine(m_options.commandLine.begin(), m_options.commandLine.end());
        commandLine.push_back('\0');
        created = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   environment.empty() ? nullptr : &environment[0],
                                   m_options.workingDirectory.empty() ? nullptr : m_options.workingDirectory.c_str(),
                                   &startup, &started);
    }
    if (!created)
    {
        m_result.startError = ::GetLastError();
        m_shift.reset();
        m_result.outcome = RunOutcome::StartFailed;
        m_ended = true;
        return false;
    }
    m_process.Reset(started.hProcess);
    m_thread.Reset(started.hThread);
    m_processId = started.dwProcessId;
    m_startTick = ::GetTickCount();
    return true;
}

// One turn of the watch: false once the program has ended or been killed.
bool UiDriver::PollOnce()
{
    if (m_ended)
        return false;
    if (::WaitForSingleObject(m_process.Get(), 0) == WAIT_OBJECT_0)
    {
        ::GetExitCodeProcess(m_process.Get(), &m_result.exitCode);
        SampleMemory(m_process.Get());
        m_result.outcome = RunOutcome::Exited;
        m_ended = true;
        return false;
    }
    SampleMemory(m_process.Get());
    Scan(m_processId);
    const DWORD elapsed = ::GetTickCount() - m_startTick;
    if (elapsed >= m_options.timeoutMs)
    {
        ::TerminateProcess(m_process.Get(), kKilledExitCode);
        ::WaitForSingleObject(m_process.Get(), kKillWaitMs);
        m_result.outcome = RunOutcome::TimedOut;
        m_ended = true;
        return false;
    }
    ::WaitForSingleObject(m_process.Get(), std::min(kPollMs, m_options.timeoutMs - elapsed));
    return true;
}

bool UiDriver::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    for (;;)
    {
        if (condition())
            return true;
        if (::GetTickCount() - start >= timeoutMs || !PollOnce())
            return false;
    }
}

UiRunResult UiDriver::Finish()
{
    while (PollOnce())
    {
    }
    m_shift.reset();
    // Boxes that went away before they could be told apart are reported all
    // the same, so that each box shown is reported exactly once.
    for (auto& entry : m_windows)
        Settle(entry.second);
    m_windows.clear();
    return m_result;
}

void UiDriver::Scan(DWORD processId)
{
    Forget();
    const std::vector<HWND> windows = VisibleTopLevelWindows(processId);
    // The program has looked at the keyboard by the time it shows a window.
    if (!windows.empty())
        m_shift.reset();
    for (HWND window : windows)
    {
        auto found = m_windows.find(window);
        if (found == m_windows.end())
            found = m_windows.emplace(window, Track(window)).first;
        if (found->second.isMessageBox)
            Advance(window, found->second);
        else if (found->second.isFileDialog)
            AnswerFileDialog(window, found->second);
        else
            ReadStaticTexts(window);
    }
}

// Read on every scan, as a window may change its line while it runs.
void UiDriver::ReadStaticTexts(HWND window)
{
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    {
        char className[16] = {};
        ::GetClassNameA(child, className, sizeof(className));
        if (::lstrcmpiA(className, "Static") != 0 || !::IsWindowVisible(child))
            continue;
        const std::string text = MessageBoxWindow::ReadText(child);
        auto& seen = m_result.otherWindowTexts;
        if (text.empty() || std::find(seen.begin(), seen.end(), text) != seen.end())
            continue;
        seen.push_back(text);
        if (m_options.onWindowText)
            m_options.onWindowText(MessageBoxWindow::ReadText(window), text);
    }
}

UiDriver::TrackedWindow UiDriver::Track(HWND window)
{
    TrackedWindow tracked;
    tracked.firstSeenTick = ::GetTickCount();
    if (FileDialogWindow::Recognise(window))
    {
        tracked.isFileDialog = true;
        m_result.fileDialogs.push_back(FileDialogWindow(window).Title());
        return tracked;
    }
    if (!MessageBoxWindow::Recognise(window))
    {
        m_result.otherWindows.push_back(MessageBoxWindow::ReadText(window));
        return tracked;
    }
    const MessageBoxWindow messageBox(window);
    SeenMessageBox seen;
    seen.caption = messageBox.Caption();
    seen.text = messageBox.Text();
    seen.icon = MessageBoxIcon::Unknown;
    seen.iconEvidence = IconEvidence::Unrecognised;
    tracked.isMessageBox = true;
    tracked.boxIndex = m_result.messageBoxes.size();
    m_result.messageBoxes.push_back(seen);
    return tracked;
}

void UiDriver::Advance(HWND window, TrackedWindow& tracked)
{
    const DWORD shownMs = ::GetTickCount() - tracked.firstSeenTick;
    if (!tracked.settled)
    {
        const auto verdict = m_icons.Identify(window);
        if (!verdict && shownMs < kIconSettleMs)
            return;
        if (verdict)
        {
            SeenMessageBox& box = m_result.messageBoxes[tracked.boxIndex];
            box.icon = verdict->icon;
            box.iconEvidence = verdict->evidence;
        }
        Settle(tracked);
    }
    if (!tracked.answered && m_options.pressOk && shownMs >= m_options.pressDelayMs)
    {
        // A box without OK (Yes/No, Retry/Cancel) is left up: answering it
        // with anything would be a guess. The timeout reports it.
        tracked.answered = true;
        m_result.messageBoxes[tracked.boxIndex].pressed = MessageBoxWindow(window).PressOk();
    }
}

void UiDriver::AnswerFileDialog(HWND window, TrackedWindow& tracked)
{
    // Given a moment to fill its lists, as a user would wait for it to settle.
    if (tracked.answered || m_fileAnswers.empty() || ::GetTickCount() - tracked.firstSeenTick < kFileDialogSettleMs)
        return;
    tracked.answered = true;
    const std::string path = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    const FileDialogWindow dialog(window);
    if (path.empty())
        dialog.Cancel();
    else
        dialog.Choose(path);
}

void UiDriver::Settle(TrackedWindow& tracked)
{
    if (!tracked.isMessageBox || tracked.settled)
        return;
    tracked.settled = true;
    if (m_options.onMessageBox)
        m_options.onMessageBox(m_result.messageBoxes[tracked.boxIndex]);
}

void UiDriver::Forget()
{
    for (auto entry = m_windows.begin(); entry != m_windows.end();)
    {
        if (::IsWindow(entry->first))
        {
            ++entry;
            continue;
        }
        Settle(entry->second);
        entry = m_windows.erase(entry);
    }
}

// Windows keeps the peaks itself, readable even after the process has ended;
// Wine reports zeros once it has ended and no peaks at all, so the current
// figures are sampled while it runs as well and the largest kept.
void UiDriver::SampleMemory(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (!::GetProcessMemoryInfo(process, &memory, sizeof(memory)))
        return;
    m_result.peakWorkingSetBytes = std::max({m_result.peakWorkingSetBytes,
                                             memory.PeakWorkingSetSize, memory.WorkingSetSize});
    m_result.peakPrivateBytes =
        std::max({m_result.peakPrivateBytes, memory.PeakPagefileUsage, memory.PagefileUsage});
}
