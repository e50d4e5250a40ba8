#include "DialogRun.h"

#include "UpdateDlg.h"

#include <utility>

#include <gtest/gtest.h>

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

const char kScriptClass[] = "TabletUpdateTestOperatorScript";
const UINT kMsgRunScript = WM_APP + 0x3B0;

bool PostedOrSentWaiting()
{
    const DWORD status = ::GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE);
    return (HIWORD(status) & (QS_POSTMESSAGE | QS_SENDMESSAGE)) != 0;
}

// Runs the script once from the dialog's loop, after everything already
// queued (the posted arrival first of all).
class ScriptRunner {
public:
    explicit ScriptRunner(std::function<void()> script) : m_script(std::move(script))
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &ScriptRunner::Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = kScriptClass;
        ::RegisterClassA(&wc); // fails harmlessly when already registered
        m_window = ::CreateWindowExA(0, kScriptClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                     nullptr);
        ::SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::PostMessageA(m_window, kMsgRunScript, 0, 0);
    }
    ~ScriptRunner() { ::DestroyWindow(m_window); }
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<ScriptRunner*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (self != nullptr && message == kMsgRunScript) {
            if (PostedOrSentWaiting())
                ::PostMessageA(hWnd, kMsgRunScript, 0, 0);
            else
                self->m_script();
            return 0;
        }
        return ::DefWindowProcA(hWnd, message, wParam, lParam);
    }

    std::function<void()> m_script;
    HWND m_window = nullptr;
};

void InstallHooks(DialogRun& run)
{
    g_run = &run;
    const DWORD thread = ::GetCurrentThreadId();
    g_getMessageHook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageProc, nullptr, thread);
    g_callWndRetHook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetProc, nullptr, thread);
}

void RemoveHooks()
{
    ::UnhookWindowsHookEx(g_callWndRetHook);
    ::UnhookWindowsHookEx(g_getMessageHook);
    g_getMessageHook = g_callWndRetHook = nullptr;
    g_run = nullptr;
}

} // namespace

DialogRun RunServiceDialog(SimHidSystem& sim, OperatorScript script)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    {
        CUpdateDlg dlg(sim);
        dlg.m_bServiceMode = true;
        ScriptRunner runner([&]() {
            script(sim, dlg, watcher);
            if (dlg.m_hWnd != nullptr && ::IsWindow(dlg.m_hWnd))
                ::PostMessageA(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
        });
        InstallHooks(run);
        run.result = dlg.DoModal();
        RemoveHooks();
    }
    run.boxes = watcher.Boxes();
    run.fileDialogs = watcher.FileDialogs();
    return run;
}

void Click(CUpdateDlg& dlg, int id)
{
    // A button that is hidden or disabled cannot be clicked; the system's
    // button would take the click all the same.
    HWND control = dlg.GetDlgItem(id);
    if (!::IsWindowVisible(control) || !::IsWindowEnabled(control)) {
        ADD_FAILURE() << "control " << id << " cannot be clicked now";
        return;
    }
    ::SendMessageA(control, BM_CLICK, 0, 0);
}

void Type(CUpdateDlg& dlg, int id, const std::string& text)
{
    ::SendMessageA(dlg.GetDlgItem(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string TextOf(CUpdateDlg& dlg, int id)
{
    return dlg.GetDlgItemText(id);
}

std::vector<std::string> DumpLines(CUpdateDlg& dlg)
{
    std::vector<std::string> lines;
    const int count = dlg.m_lbDump.GetCount();
    for (int i = 0; i < count; ++i)
        lines.push_back(dlg.m_lbDump.GetText(i));
    return lines;
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    while (!condition()) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        MSG msg;
        if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        } else {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    return true;
}

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    {
        CUpdateDlg dlg(sim);
        if (whileBoxOpen) {
            watcher.SetOnShow([&](const MessageBoxRecord& box) { whileBoxOpen(sim, dlg, box); });
        }
        InstallHooks(run);
        run.result = dlg.DoModal();
        RemoveHooks();
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
