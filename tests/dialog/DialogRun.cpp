#include "DialogRun.h"

#include "UpdateDlg.h"

namespace {

// Hook procedures have no context argument; one run at a time records here.
DialogRun* g_run = nullptr;
HHOOK g_getMessageHook = nullptr;
HHOOK g_callWndRetHook = nullptr;

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

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    // The simulator sends its reports from a thread of its own: a box stays
    // open until every report it owes has been handled, and what those
    // posted has run.
    watcher.SetDismissWhen([&sim] { return sim.PendingReportCount() == 0; });
    {
        CUpdateDlg dlg(sim);
        if (whileBoxOpen) {
            watcher.SetOnShow([&](const MessageBoxRecord& box) { whileBoxOpen(sim, dlg, box); });
        }
        g_run = &run;
        const DWORD thread = ::GetCurrentThreadId();
        g_getMessageHook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageProc, nullptr, thread);
        g_callWndRetHook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetProc, nullptr, thread);

        run.result = dlg.DoModal();

        ::UnhookWindowsHookEx(g_callWndRetHook);
        ::UnhookWindowsHookEx(g_getMessageHook);
        g_getMessageHook = g_callWndRetHook = nullptr;
        g_run = nullptr;
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
