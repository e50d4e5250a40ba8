#include "DialogRun.h"

#include "UpdateDlg.h"

#include <cstdlib>

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

// Runs `dlg` modally with the hooks in place; the caller's watcher reads the boxes.
INT_PTR RunRecorded(CUpdateDlg& dlg, DialogRun& run)
{
    g_run = &run;
    const DWORD thread = ::GetCurrentThreadId();
    g_getMessageHook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageProc, nullptr, thread);
    g_callWndRetHook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetProc, nullptr, thread);

    const INT_PTR result = dlg.DoModal();

    ::UnhookWindowsHookEx(g_callWndRetHook);
    ::UnhookWindowsHookEx(g_getMessageHook);
    g_getMessageHook = g_callWndRetHook = nullptr;
    g_run = nullptr;
    return result;
}

const UINT kNextStep = WM_APP + 0x2F0;

// The dialog with its HID interface registration but without
// the update that ends it, so its own loop runs as it will wherever it stays
// open; it plays the test's steps from that loop.
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
        // Never reached once a step has ended the dialog: the loop stops
        // before it and the window goes with what was posted to it.
        ::PostMessageA(m_hWnd, kNextStep, 0, 0);
        return TRUE;
    }

private:
    SimHidSystem& m_sim;
    const std::vector<DialogStep>& m_steps;
    size_t m_next = 0;
};

} // namespace

DialogRun RunUpdateDialog(SimHidSystem& sim, WhileBoxOpen whileBoxOpen)
{
    DialogRun run;
    MessageBoxWatcher watcher;
    {
        CUpdateDlg dlg(sim);
        if (whileBoxOpen) {
            watcher.SetOnShow([&](const MessageBoxRecord& box) { whileBoxOpen(sim, dlg, box); });
        }
        run.result = RunRecorded(dlg, run);
    }
    run.boxes = watcher.Boxes();
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
    // A handler may unplug or plug (a fault at the Nth transfer), so go round
    // until neither the bus nor the queue holds anything.
    for (;;) {
        sim.PumpMessages();
        MSG msg;
        if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (sim.PendingReportCount() == 0)
                return;
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

namespace {

// The address a read asks for travels as its length, 8 above it; that of a
// write as the report's second byte, 8 above it modulo 256.
int AddressOf(const SimTraceEntry& entry)
{
    if (entry.call == "GetFeature")
        return std::atoi(entry.arguments.c_str() + 4) - 8; // "len=NNN"
    const unsigned long code = std::strtoul(entry.arguments.substr(3, 2).c_str(), nullptr, 16);
    return static_cast<int>((code + 256 - 8) % 256);
}

} // namespace

std::vector<std::string> TrafficShape(const SimHidSystem& sim)
{
    std::vector<std::string> shape;
    std::string runCall;
    int first = 0;
    int last = 0;
    auto closeRun = [&]() {
        if (runCall.empty())
            return;
        std::string step = runCall + " " + std::to_string(first);
        if (last != first)
            step += ".." + std::to_string(last);
        shape.push_back(step);
        runCall.clear();
    };
    for (const SimTraceEntry& entry : sim.Trace()) {
        if (entry.call == "GetFeature" || entry.call == "SetFeature") {
            const std::string call = entry.call == "GetFeature" ? "Get" : "Set";
            const int address = AddressOf(entry);
            if (call == runCall && address == last + 1) {
                last = address;
                continue;
            }
            closeRun();
            runCall = call;
            first = last = address;
            continue;
        }
        closeRun();
        if (entry.call == "GetIndexedString")
            shape.push_back("String " + entry.arguments);
        else
            shape.push_back(entry.call + " " + entry.device);
    }
    closeRun();
    return shape;
}

DialogView ViewOf(const CUpdateDlg& dlg)
{
    DialogView view;
    view.result = dlg.GetDlgItemText(IDC_RESULT);
    const HWND dump = dlg.GetDlgItem(IDC_DUMP_LIST);
    const LRESULT count = ::SendMessageA(dump, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::vector<char> line(static_cast<size_t>(::SendMessageA(dump, LB_GETTEXTLEN, i, 0)) + 1, '\0');
        ::SendMessageA(dump, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        view.dump.push_back(line.data());
    }
    view.exitEnabled = ::IsWindowEnabled(dlg.GetDlgItem(IDOK)) != FALSE;
    view.setEnabled = ::IsWindowEnabled(dlg.GetDlgItem(IDC_SET)) != FALSE;
    return view;
}
