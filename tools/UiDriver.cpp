#include "UiDriver.h"

#include <psapi.h>

#include <algorithm>

#include "EnvironmentBlock.h"
#include "MessageBoxWindow.h"
#include "UniqueHandle.h"

namespace
{
constexpr DWORD kPollMs = 20;
// How long a box may stay unpainted before its icon counts as unknown.
constexpr DWORD kIconSettleMs = 1500;
constexpr DWORD kKillWaitMs = 5000;
constexpr UINT kKilledExitCode = 124;

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

UiRunResult UiDriver::Run()
{
    m_result = UiRunResult();
    m_windows.clear();

    std::string environment;
    if (!m_options.environment.empty())
    {
        EnvironmentBlock block = EnvironmentBlock::FromCurrentProcess();
        for (const auto& variable : m_options.environment)
            block.Set(variable.first, variable.second);
        environment = block.Block();
    }
    // CreateProcessA may write into the command line.
    std::vector<char> commandLine(m_options.commandLine.begin(), m_options.commandLine.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                          environment.empty() ? nullptr : &environment[0],
                          m_options.workingDirectory.empty() ? nullptr : m_options.workingDirectory.c_str(),
                          &startup, &started))
    {
        m_result.outcome = RunOutcome::StartFailed;
        m_result.startError = ::GetLastError();
        return m_result;
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);

    const DWORD startTick = ::GetTickCount();
    for (;;)
    {
        if (::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0)
        {
            ::GetExitCodeProcess(process.Get(), &m_result.exitCode);
            SampleMemory(process.Get());
            m_result.outcome = RunOutcome::Exited;
            break;
        }
        SampleMemory(process.Get());
        Scan(started.dwProcessId);
        const DWORD elapsed = ::GetTickCount() - startTick;
        if (elapsed >= m_options.timeoutMs)
        {
            ::TerminateProcess(process.Get(), kKilledExitCode);
            ::WaitForSingleObject(process.Get(), kKillWaitMs);
            m_result.outcome = RunOutcome::TimedOut;
            break;
        }
        ::WaitForSingleObject(process.Get(), std::min(kPollMs, m_options.timeoutMs - elapsed));
    }

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
    for (HWND window : VisibleTopLevelWindows(processId))
    {
        auto found = m_windows.find(window);
        if (found == m_windows.end())
            found = m_windows.emplace(window, Track(window)).first;
        if (found->second.isMessageBox)
            Advance(window, found->second);
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
