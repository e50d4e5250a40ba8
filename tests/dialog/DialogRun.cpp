#include "DialogRun.h"

#include "UpdateDlg.h"

#include <commctrl.h>

#include <cstdlib>

namespace {

// Hook procedures have no context argument; one run at a time records here.
DialogRun* g_run = nullptr;
SimHidSystem* g_sim = nullptr;
bool g_clickExitDuringWrite = false;
HHOOK g_getMessageHook = nullptr;
HHOOK g_callWndRetHook = nullptr;
HHOOK g_callWndHook = nullptr;

BOOL CALLBACK FindMessageBox(HWND hWnd, LPARAM lParam)
{
    char className[16] = {};
    ::GetClassNameA(hWnd, className, sizeof(className));
    if (std::string(className) == "#32770" && ::GetWindow(hWnd, GW_OWNER) != nullptr &&
        ::IsWindowVisible(hWnd)) {
        *reinterpret_cast<bool*>(lParam) = true;
        return FALSE;
    }
    return TRUE;
}

bool MessageBoxOpen()
{
    bool open = false;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&open));
    return open;
}

std::vector<std::string> VisibleStaticTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        ::GetClassNameA(child, className, sizeof(className));
        char text[256] = {};
        ::GetWindowTextA(child, text, sizeof(text));
        if (::lstrcmpiA(className, "Static") == 0 && ::IsWindowVisible(child) && text[0] != '\0')
            texts.push_back(text);
    }
    return texts;
}

void RecordProgress(HWND bar, int position)
{
    const HWND dialog = ::GetParent(bar);
    ProgressStep step;
    step.position = position;
    step.end = static_cast<int>(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    step.writes = CallsOf(*g_sim, "SetFeature").size();
    step.dialogVisible = ::IsWindowVisible(dialog) != FALSE;
    RECT window{};
    ::GetWindowRect(dialog, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoA(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    step.dialogCentred = std::abs((window.left + window.right) - (work.left + work.right)) <= 2 &&
                         std::abs((window.top + window.bottom) - (work.top + work.bottom)) <= 2;
    step.texts = VisibleStaticTexts(dialog);
    step.boxOpen = MessageBoxOpen();
    g_run->progress.push_back(step);

    if (g_clickExitDuringWrite && !g_run->clickPosted && step.writes > 0 && step.writes < 256) {
        const HWND exit = ::GetDlgItem(dialog, IDOK);
        ::PostMessageA(exit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        ::PostMessageA(exit, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        g_run->clickPosted = true;
    }
}

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && g_run != nullptr) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        char className[32] = {};
        if (call->message == PBM_SETPOS &&
            ::GetClassNameA(call->hwnd, className, sizeof(className)) > 0 &&
            ::lstrcmpiA(className, PROGRESS_CLASSA) == 0) {
            RecordProgress(call->hwnd, static_cast<int>(call->wParam));
        }
        if (call->message == WM_COMMAND && LOWORD(call->wParam) == IDOK &&
            call->hwnd == ::GetParent(::GetDlgItem(call->hwnd, IDC_SET)) && !MessageBoxOpen())
            ++g_run->exitCommandsBeforeBox;
    }
    return ::CallNextHookEx(g_callWndHook, code, wParam, lParam);
}

LRESULT CALLBACK GetMessageProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE && g_run != nullptr) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg->message == WM_TABLET_ARRIVED || msg->message == WM_TABLET_REMOVED)
            g_run->tabletMessages.push_back(msg->message);
    }
    return ::CallNextHookEx(g_getMessageHook, code, wParam, lParam);
}

LRESULT CALLBACK CallWndRetProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && g_run != nullptr) {
        const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (call->message == WM_DEVICECHANGE)
            g_run->deviceChanges.push_back({call->wParam, call->lResult});
    }
    return ::CallNextHookEx(g_callWndRetHook, code, wParam, lParam);
}

} // namespace

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen, bool clickExitDuringWrite)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    {
        CUpdateDlg dlg(sim);
        if (whileBoxOpen) {
            watcher.SetOnShow([&](const MessageBoxRecord& box) { whileBoxOpen(sim, dlg, box); });
        }
        g_run = &run;
        g_sim = &sim;
        g_clickExitDuringWrite = clickExitDuringWrite;
        // The application's main window owns its message boxes, as in the program.
        CWinApp* app = AfxGetApp();
        if (app != nullptr)
            app->m_pMainWnd = &dlg;
        const DWORD thread = ::GetCurrentThreadId();
        // Under Wine this hook slows every run by about half a second.
        if (clickExitDuringWrite)
            g_callWndHook = ::SetWindowsHookExA(WH_CALLWNDPROC, CallWndProc, nullptr, thread);
        g_getMessageHook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageProc, nullptr, thread);
        g_callWndRetHook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetProc, nullptr, thread);

        run.result = dlg.DoModal();

        ::UnhookWindowsHookEx(g_callWndRetHook);
        ::UnhookWindowsHookEx(g_getMessageHook);
        if (g_callWndHook != nullptr)
            ::UnhookWindowsHookEx(g_callWndHook);
        g_getMessageHook = g_callWndRetHook = g_callWndHook = nullptr;
        if (app != nullptr)
            app->m_pMainWnd = nullptr;
        g_run = nullptr;
        g_sim = nullptr;
    }
    run.boxes = watcher.Boxes();
    return run;
}

std::vector<SimTraceEntry> CallsOf(const SimHidSystem& sim, const std::string& call)
{
    std::vector<SimTraceEntry> calls;
    for (const SimTraceEntry& entry : sim.Trace()) {
        if (entry.call == call)
            calls.push_back(entry);
    }
    return calls;
}
