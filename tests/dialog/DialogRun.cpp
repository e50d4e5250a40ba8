#include "DialogRun.h"

#include "UpdateDlg.h"

#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

namespace {

// Hook procedures have no context argument; one run at a time records here.
DialogRun* g_run = nullptr;
SimHidSystem* g_sim = nullptr;
CUpdateDlg* g_dlg = nullptr;
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

ProgressStep StateOf(HWND bar)
{
    const HWND dialog = ::GetParent(bar);
    ProgressStep step;
    step.position = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
    step.end = static_cast<int>(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    step.writes = CallsOf(*g_sim, "SetFeature").size();
    step.transfers = step.writes + CallsOf(*g_sim, "GetFeature").size() +
                     CallsOf(*g_sim, "GetIndexedString").size();
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
    return step;
}

// At the first write: the dialog as it stands, and a click on Exit posted.
// Then the write waits long enough for the display's next look at the queue
// to come right after it, as it would at a slower tablet's pace.
void OnFirstWrite(const SimTraceEntry& entry)
{
    if (entry.call != "SetFeature" || g_dlg == nullptr || g_run->clickPosted)
        return;
    const HWND dialog = g_dlg->m_hWnd;
    const HWND bar = ::FindWindowExA(dialog, nullptr, PROGRESS_CLASSA, nullptr);
    if (bar != nullptr)
        g_run->atFirstWrite = StateOf(bar);
    const HWND exit = ::GetDlgItem(dialog, IDOK);
    ::PostMessageA(exit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::PostMessageA(exit, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    g_run->clickPosted = true;
    ::Sleep(2 * CUpdateProgress::kAnswerEveryMs);
}

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && g_run != nullptr) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
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
        // The position the bar is about to be painted at: what the user sees.
        char className[32] = {};
        if (g_clickExitDuringWrite && msg->message == WM_PAINT &&
            ::GetClassNameA(msg->hwnd, className, sizeof(className)) > 0 &&
            ::lstrcmpiA(className, PROGRESS_CLASSA) == 0 && !MessageBoxOpen())
            g_run->progress.push_back(StateOf(msg->hwnd));
    }
    return ::CallNextHookEx(g_getMessageHook, code, wParam, lParam);
}

LRESULT CALLBACK CallWndRetProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && g_run != nullptr) {
        const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (call->message == WM_DEVICECHANGE)
            g_run->deviceChanges.push_back({call->wParam, call->lResult});
        // As the dialog answered: a message sent without waiting for it
        // reports no result here under Wine.
        if (call->message == WM_QUERYENDSESSION)
            g_run->sessionAnswers.push_back(::GetWindowLongPtrA(call->hwnd, DWLP_MSGRESULT));
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
// queued (the posted arrival first of all) and every report the bus still
// owes has been handled.
class ScriptRunner {
public:
    ScriptRunner(std::function<bool()> busBusy, std::function<void()> script)
        : m_busBusy(std::move(busBusy)), m_script(std::move(script))
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
            if (PostedOrSentWaiting() || self->m_busBusy())
                ::PostMessageA(hWnd, kMsgRunScript, 0, 0);
            else
                self->m_script();
            return 0;
        }
        return ::DefWindowProcA(hWnd, message, wParam, lParam);
    }

    std::function<bool()> m_busBusy;
    std::function<void()> m_script;
    HWND m_window = nullptr;
};

// Runs `dlg` modally with the hooks in place; the caller's watcher reads the boxes.
INT_PTR RunRecorded(CUpdateDlg& dlg, DialogRun& run, SimHidSystem* sim = nullptr,
                    bool clickExitDuringWrite = false)
{
    g_run = &run;
    g_sim = sim;
    g_dlg = &dlg;
    g_clickExitDuringWrite = clickExitDuringWrite && sim != nullptr;
    // The application's main window owns its message boxes, as in the program.
    CWinApp* app = AfxGetApp();
    if (app != nullptr)
        app->m_pMainWnd = &dlg;
    const DWORD thread = ::GetCurrentThreadId();
    // Under Wine this hook slows every run by about half a second.
    if (g_clickExitDuringWrite) {
        g_callWndHook = ::SetWindowsHookExA(WH_CALLWNDPROC, CallWndProc, nullptr, thread);
        sim->SetTraceObserver(OnFirstWrite);
    }
    g_getMessageHook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageProc, nullptr, thread);
    g_callWndRetHook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetProc, nullptr, thread);

    const INT_PTR result = dlg.DoModal();

    ::UnhookWindowsHookEx(g_callWndRetHook);
    ::UnhookWindowsHookEx(g_getMessageHook);
    if (g_callWndHook != nullptr)
        ::UnhookWindowsHookEx(g_callWndHook);
    if (g_clickExitDuringWrite)
        sim->SetTraceObserver({});
    g_getMessageHook = g_callWndRetHook = g_callWndHook = nullptr;
    if (app != nullptr)
        app->m_pMainWnd = nullptr;
    g_run = nullptr;
    g_sim = nullptr;
    g_dlg = nullptr;
    return result;
}

const UINT kNextStep = WM_APP + 0x2F0;

// Registers for HID interface arrivals as the update does, then leaves out
// the update that would end it and plays the steps from its own loop.
class OpenUpdateDlg : public CUpdateDlg {
public:
    OpenUpdateDlg(SimHidSystem& sim, const std::vector<DialogStep>& steps)
        : CUpdateDlg(sim), m_sim(sim), m_steps(steps)
    {
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        m_sim.HidD_GetHidGuid(&filter.dbcc_classguid);
        m_hInterfaceNotify.Register(m_hWnd, &filter);
        ::PostMessageA(m_hWnd, kNextStep, 0, 0);
        return TRUE;
    }

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override
    {
        if (message != kNextStep)
            return CUpdateDlg::OnWndMsg(message, wParam, lParam, result);
        *result = 0;
        if (m_next == m_steps.size()) {
            EndDialog(static_cast<int>(kStillOpen));
            return TRUE;
        }
        m_steps[m_next++](m_sim, *this);
        HandlePendingMessages(m_sim);
        // If the step ended the dialog, its loop stops before this arrives.
        ::PostMessageA(m_hWnd, kNextStep, 0, 0);
        return TRUE;
    }

private:
    SimHidSystem& m_sim;
    const std::vector<DialogStep>& m_steps;
    size_t m_next = 0;
};

} // namespace

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen, bool clickExitDuringWrite,
                          WindowDpiSystem* dpi)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    // The simulator sends its reports from a thread of its own: a box stays
    // open until every report it owes has been handled, and what those
    // posted has run.
    watcher.SetDismissWhen([&sim] { return sim.PendingReportCount() == 0; });
    {
        CUpdateDlg dlg(sim);
        dlg.m_pDpi = dpi;
        if (whileBoxOpen) {
            watcher.SetOnShow([&](const MessageBoxRecord& box) { whileBoxOpen(sim, dlg, box); });
        }
        run.result = RunRecorded(dlg, run, &sim, clickExitDuringWrite);
    }
    run.boxes = watcher.Boxes();
    run.fileDialogs = watcher.FileDialogs();
    return run;
}

DialogRun RunOpenDialog(SimHidSystem& sim, const std::vector<DialogStep>& steps)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    {
        OpenUpdateDlg dlg(sim, steps);
        run.result = RunRecorded(dlg, run);
    }
    run.boxes = watcher.Boxes();
    return run;
}

DialogRun RunServiceDialog(SimHidSystem& sim, OperatorScript script, WindowDpiSystem* dpi)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    watcher.SetDismissWhen([&sim] { return sim.PendingReportCount() == 0; });
    {
        CUpdateDlg dlg(sim);
        dlg.m_bServiceMode = true;
        dlg.m_pDpi = dpi;
        ScriptRunner runner([&sim] { return sim.PendingReportCount() != 0; },
                            [&]() {
                                script(sim, dlg, watcher);
                                if (dlg.m_hWnd != nullptr && ::IsWindow(dlg.m_hWnd))
                                    ::PostMessageA(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
                            });
        run.result = RunRecorded(dlg, run);
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

LRESULT SendAsTheSession(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::atomic<bool> done{false};
    LRESULT answer = -1;
    std::thread session([&] {
        answer = ::SendMessageA(dialog, message, wParam, lParam);
        done = true;
    });
    PumpUntil([&] { return done.load(); });
    session.join();
    return answer;
}

void LetTheBurstAnswer()
{
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 2000;) {
        if (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) != 0)
            break;
        ::Sleep(1);
    }
    ::Sleep(2 * CUpdateProgress::kAnswerEveryMs);
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

void HandlePendingMessages(SimHidSystem& sim)
{
    // Handlers may unplug (a fault at the Nth transfer): go round until
    // neither the bus nor the queue holds anything.
    MSG msg;
    do {
        sim.PumpMessages();
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    } while (sim.PendingReportCount() != 0);
}

std::vector<std::string> TrafficShape(const SimHidSystem& sim)
{
    std::vector<std::string> shape;
    std::string run; // "Get 12" or "Set 12": the open run and its first address
    int last = -1;
    for (const SimTraceEntry& entry : sim.Trace()) {
        const bool read = entry.call == "GetFeature";
        if (!read && entry.call != "SetFeature") {
            run.clear();
            shape.push_back(entry.call == "GetIndexedString" ? "String " + entry.arguments
                                                             : entry.call + " " + entry.device);
            continue;
        }
        // A read's address travels as its length, a write's as the report's
        // second byte; both 8 above it, the byte modulo 256.
        const int address = read ? std::atoi(entry.arguments.c_str() + 4) - 8
                                 : static_cast<int>((std::strtoul(entry.arguments.substr(3, 2).c_str(), nullptr, 16) + 248) % 256);
        const char* call = read ? "Get " : "Set ";
        if (run.compare(0, 4, call) != 0 || address != last + 1) {
            run = call + std::to_string(address);
            shape.push_back(run);
        } else {
            shape.back() = run + ".." + std::to_string(address);
        }
        last = address;
    }
    return shape;
}

DialogView ViewOf(const CUpdateDlg& dlg, const SimHidSystem& sim)
{
    DialogView view;
    view.result = dlg.GetDlgItemText(IDC_RESULT);
    view.dataRead = dlg.GetDlgItemText(IDC_DATA_READ);
    const HWND dump = dlg.GetDlgItem(IDC_DUMP_LIST);
    for (LRESULT i = 0, count = ::SendMessageA(dump, LB_GETCOUNT, 0, 0); i < count; ++i) {
        std::vector<char> line(static_cast<size_t>(::SendMessageA(dump, LB_GETTEXTLEN, i, 0)) + 1);
        ::SendMessageA(dump, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        view.dump.push_back(line.data());
    }
    view.exitEnabled = ::IsWindowEnabled(dlg.GetDlgItem(IDOK)) != FALSE;
    view.setEnabled = ::IsWindowEnabled(dlg.GetDlgItem(IDC_SET)) != FALSE;
    view.traffic = TrafficShape(sim);
    return view;
}
