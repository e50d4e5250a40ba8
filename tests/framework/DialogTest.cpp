// Modal dialogs: message maps and their results, the base OK/Cancel
// behaviour, and the dialog box loop's own behaviour that the update relies on.

#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include <atomic>
#include <thread>

#include "MessageBoxWatcher.h"
#include "ProbeDialog.h"

namespace {

INT_PTR RunModal(CProbeDialog& dialog)
{
    const INT_PTR result = dialog.DoModal();
    // Messages the dialog left behind (posted to it after its end) must not
    // reach the next test.
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, WM_APP, WM_APP + 0x100, PM_REMOVE)) {
    }
    return result;
}

struct ResultRow {
    UINT message;
    WPARAM wParam;
    LRESULT expected;
    const char* why;
};

TEST(Dialog, MessageResultsReachTheSender)
{
    const ResultRow rows[] = {
        /* 1 */ { kMsgBaseOnly, 0, 1, "mapped by the base class only" },
        /* 2 */ { kMsgBoth, 0, 3, "the derived class's entry wins" },
        /* 3 */ { kMsgResult, 0, 0x12345678, "a result that is not TRUE" },
        /* 4 */ { kMsgNested, 0, 22, "sending to itself inside the handler" },
        /* 5 */ { WM_APP + 0x50, 0, 0, "not mapped: the default gives 0" },
        /* 6 */ { kMsgThrow, 0, 0, "a throwing handler stops at the dialog procedure" },
    };
    CProbeDialog dialog([&](CProbeDialog& dlg) {
        int n = 0;
        for (const ResultRow& r : rows) {
            dlg.m_nextResult = 0x12345678;
            EXPECT_EQ(dlg.SendMessage(r.message, r.wParam), r.expected) << "row " << ++n << ": " << r.why;
        }
    });
    EXPECT_EQ(RunModal(dialog), kBodyDone);
}

// Answers device-change queries as the update dialog does.
class CDenyDialog : public CProbeDialog {
public:
    using CProbeDialog::CProbeDialog;

protected:
    LRESULT OnDeviceChange(WPARAM wParam, LPARAM) { return wParam == DBT_DEVICEQUERYREMOVE ? BROADCAST_QUERY_DENY : TRUE; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDenyDialog, CProbeDialog)
    ON_MESSAGE(WM_DEVICECHANGE, &CDenyDialog::OnDeviceChange)
END_MESSAGE_MAP()

TEST(Dialog, DeviceChangeResultGoesBack)
{
    // A refusal of a query must reach the system, which reads the result.
    LRESULT query = 0, complete = 0;
    CDenyDialog dialog([&](CProbeDialog& dlg) {
        query = dlg.SendMessage(WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE);
        complete = dlg.SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE);
    });
    EXPECT_EQ(RunModal(dialog), kBodyDone);
    EXPECT_EQ(query, BROADCAST_QUERY_DENY);
    EXPECT_EQ(complete, TRUE);
}

struct CommandRow {
    UINT id;
    UINT code;
    bool fromControl;
    const char* expected; // handler called, or "" for none
};

TEST(Dialog, CommandsByIdAndCode)
{
    const CommandRow rows[] = {
        /* 1 */ { IDC_GET, BN_CLICKED, true, "OnGet" },
        /* 2 */ { IDC_GET, BN_DOUBLECLICKED, true, "" },
        /* 3 */ { IDC_SET, BN_CLICKED, true, "" },
        /* 4 */ { IDC_WRITE_DELAY_MS, EN_KILLFOCUS, true, "OnEditKillFocus" },
        /* 5 */ { IDC_WRITE_DELAY_MS, EN_CHANGE, true, "OnEditChange" },
        /* 6 */ { IDC_WRITE_DELAY_MS, EN_UPDATE, true, "OnEditUpdate" },
        /* 7 */ { IDC_WRITE_DELAY_MS, EN_SETFOCUS, true, "" },
        /* 8 */ { kCmdAccelerator, 0, false, "OnAccelerator" }, // menu
        /* 9 */ { kCmdAccelerator, 1, false, "OnAccelerator" }, // accelerator
    };
    CProbeDialog dialog([&](CProbeDialog& dlg) {
        int n = 0;
        for (const CommandRow& r : rows) {
            dlg.m_calls.clear();
            HWND control = r.fromControl ? dlg.GetDlgItem(static_cast<int>(r.id)) : nullptr;
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(r.id, r.code), reinterpret_cast<LPARAM>(control));
            const std::string called = dlg.m_calls.empty() ? "" : dlg.m_calls.front();
            EXPECT_EQ(called, r.expected) << "row " << ++n;
            EXPECT_LE(dlg.m_calls.size(), 1u) << "row " << n;
        }
    });
    EXPECT_EQ(RunModal(dialog), kBodyDone);
}

TEST(Dialog, OkAndCancelGoThroughTheVirtuals)
{
    MessageBoxWatcher watcher;
    int member = 0;
    auto exchange = [&](CDataExchange* pDX) {
        DDX_Text(pDX, IDC_WRITE_DELAY_MS, member);
        DDV_MinMaxInt(pDX, member, 1, 20);
    };

    // Exit with a bad value stays open; Escape then ends with IDCANCEL.
    CProbeDialog refused(
        [&](CProbeDialog& dlg) {
            dlg.m_endAfterBody = false;
            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, "99");
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDOK)));
            EXPECT_TRUE(::IsWindowVisible(dlg.m_hWnd)) << "a failed exchange ended the dialog";
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        },
        exchange);
    EXPECT_EQ(RunModal(refused), IDCANCEL);
    EXPECT_EQ(refused.m_okCalls, 1);
    EXPECT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(member, 99);

    // A good value ends with IDOK, also from the Enter key (no control).
    CProbeDialog accepted(
        [&](CProbeDialog& dlg) {
            dlg.m_endAfterBody = false;
            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, "12");
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
        },
        exchange);
    EXPECT_EQ(RunModal(accepted), IDOK);
    EXPECT_EQ(member, 12);

    // An override replaces the base behaviour.
    CProbeDialog overridden([&](CProbeDialog& dlg) {
        dlg.m_overrideOK = true;
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDOK)));
    });
    EXPECT_EQ(RunModal(overridden), kBodyDone);
    EXPECT_EQ(overridden.m_okCalls, 1);
}

TEST(Dialog, BasePaintingLeftToWindows)
{
    for (bool callsDefault : { true, false }) {
        SCOPED_TRACE(callsDefault ? "handler calls the base OnPaint" : "handler paints nothing");
        BOOL stillInvalid = FALSE;
        CProbeDialog dialog([&](CProbeDialog& dlg) {
            dlg.m_paintCallsDefault = callsDefault;
            dlg.m_paints = 0;
            ::InvalidateRect(dlg.m_hWnd, nullptr, TRUE);
            ::UpdateWindow(dlg.m_hWnd);
            EXPECT_EQ(dlg.m_paints, 1);
            stillInvalid = ::GetUpdateRect(dlg.m_hWnd, nullptr, FALSE);
            ::ValidateRect(dlg.m_hWnd, nullptr);
        });
        EXPECT_EQ(RunModal(dialog), kBodyDone);
        // Only the default procedure's BeginPaint/EndPaint validates the window.
        EXPECT_EQ(stillInvalid != FALSE, !callsDefault);
    }
}

TEST(Dialog, QueryDragIconReturnsTheIconItself)
{
    LRESULT icon = 0;
    CProbeDialog dialog([&](CProbeDialog& dlg) { icon = dlg.SendMessage(WM_QUERYDRAGICON); });
    EXPECT_EQ(RunModal(dialog), kBodyDone);
    EXPECT_EQ(icon, reinterpret_cast<LRESULT>(AfxGetApp()->LoadIcon(IDI_APP_ICON)));
    EXPECT_NE(icon, 0);
}

// The one-shot update ends its dialog from OnInitDialog: the dialog's own loop
// must never run, so a message posted to it then is never dispatched.
TEST(Dialog, EndDialogInInitDialog)
{
    for (int result : { 0, 1, 42 }) {
        CProbeDialog dialog(nullptr);
        dialog.m_initMode = CProbeDialog::InitMode::EndAtOnce;
        dialog.m_initEndResult = result;
        EXPECT_EQ(RunModal(dialog), result);
        EXPECT_TRUE(dialog.m_countedWithBoxOpen.empty()) << "the dialog's loop ran";
        EXPECT_EQ(dialog.m_hWnd, nullptr);
    }
}

TEST(Dialog, MessageBoxInInitDialogKeepsDispatching)
{
    MessageBoxWatcher watcher;
    CProbeDialog dialog(nullptr);
    dialog.m_initMode = CProbeDialog::InitMode::MessageBoxThenEnd;
    dialog.m_initEndResult = 1;
    CWinApp* app = AfxGetApp();
    app->m_pMainWnd = &dialog;

    // A message sent from another thread while the box is open.
    std::atomic<bool> sentHandled{ false };
    std::thread sender;
    HWND dialogWindow = nullptr;
    watcher.SetOnShow([&](const MessageBoxRecord&) {
        dialogWindow = dialog.m_hWnd;
        sender = std::thread([&, dialogWindow] {
            ::SendMessageA(dialogWindow, kMsgCount, 0, 0);
            sentHandled = true;
        });
    });
    watcher.SetDismissWhen([&] { return sentHandled.load(); });

    EXPECT_EQ(RunModal(dialog), 1);
    app->m_pMainWnd = nullptr;
    if (sender.joinable())
        sender.join();

    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_FALSE(watcher.Boxes()[0].timedOut);
    EXPECT_EQ(watcher.Boxes()[0].owner, dialogWindow) << "the box is owned by the main window";
    // The posted message and the sent one, both while the box was open.
    EXPECT_EQ(dialog.m_countedWithBoxOpen, (std::vector<bool>{ true, true }));
}

TEST(Dialog, ExceptionInInitDialogEndsWithMinusOne)
{
    CProbeDialog dialog(nullptr);
    dialog.m_initMode = CProbeDialog::InitMode::Throw;
    EXPECT_EQ(RunModal(dialog), -1);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

class CCommandApp : public CWinApp {
public:
    int m_commands = 0;

protected:
    void OnAppCommand() { ++m_commands; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCommandApp, CWinApp)
    ON_COMMAND(kCmdForApp, &CCommandApp::OnAppCommand)
END_MESSAGE_MAP()

TEST(Dialog, UnhandledCommandsGoToTheApplication)
{
    CCommandApp app;
    CProbeDialog dialog([&](CProbeDialog& dlg) {
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(kCmdForApp, 0), 0);
        EXPECT_EQ(app.m_commands, 1);
        // A control's notification is the dialog's business only.
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(kCmdForApp, BN_CLICKED), reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_GET)));
        EXPECT_EQ(app.m_commands, 1);
    });
    EXPECT_EQ(RunModal(dialog), kBodyDone);
}

} // namespace
