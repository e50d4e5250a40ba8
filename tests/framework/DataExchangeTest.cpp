// Data exchange on a live dialog with the real template's controls, the
// framework's message boxes read and dismissed by the watcher.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "MessageBoxWatcher.h"
#include "ProbeDialog.h"

namespace {

const char kNotAnInteger[] = "Please enter an integer.";
const char kOutOfRange[] = "Please enter an integer between 1 and 20.";

std::string Shown(const char* text)
{
    std::string s;
    for (const char* p = text; *p; ++p)
        s += *p == '\t' ? std::string("\\t") : std::string(1, *p);
    return "\"" + s + "\"";
}

void RunInDialog(CProbeDialog::Body body, CProbeDialog::Exchange exchange)
{
    CProbeDialog dialog(std::move(body), std::move(exchange));
    EXPECT_EQ(dialog.DoModal(), kBodyDone);
}

struct ParseRow {
    const char* text;
    bool ok;
    int value; // when ok
};

const ParseRow kParseRows[] = {
    /*  1 */ { "12", true, 12 },
    /*  2 */ { " 12 ", true, 12 },
    /*  3 */ { "\t-3\t", true, -3 },
    /*  4 */ { "0", true, 0 },
    /*  5 */ { "  000  ", true, 0 },
    /*  6 */ { "007", true, 7 },
    /*  7 */ { "+7", true, 7 },
    /*  8 */ { "-2147483648", true, INT_MIN },
    /*  9 */ { "2147483647", true, INT_MAX },
    /* 10 */ { "-0", false, 0 },
    /* 11 */ { "+0", false, 0 },
    /* 12 */ { "", false, 0 },
    /* 13 */ { "   ", false, 0 },
    /* 14 */ { "12a", false, 0 },
    /* 15 */ { "1 2", false, 0 },
    /* 16 */ { "- 5", false, 0 },
    /* 17 */ { "--5", false, 0 },
    /* 18 */ { "5-", false, 0 },
    /* 19 */ { "0x10", false, 0 },
    /* 20 */ { "1e3", false, 0 },
    // Too large for an int, but integers: the nearest int, for a range check to refuse.
    /* 21 */ { "2147483648", true, INT_MAX },
    /* 22 */ { "-2147483649", true, INT_MIN },
    /* 23 */ { "99999999999999999999", true, INT_MAX },
    /* 24 */ { "abc", false, 0 },
};

TEST(DataExchange, IntegerFromControl)
{
    MessageBoxWatcher watcher;
    int member = 0;
    RunInDialog(
        [&](CProbeDialog& dlg) {
            int row = 0;
            for (const ParseRow& r : kParseRows) {
                ++row;
                SCOPED_TRACE("row " + std::to_string(row) + ": " + Shown(r.text));
                dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, r.text);
                ASSERT_EQ(dlg.GetDlgItemText(IDC_WRITE_DELAY_MS), r.text) << "the edit did not keep the text";
                member = 777;
                watcher.Clear();
                const BOOL ok = dlg.UpdateData(TRUE);
                EXPECT_EQ(ok != FALSE, r.ok);
                EXPECT_EQ(member, r.ok ? r.value : 777);
                ASSERT_EQ(watcher.Boxes().size(), r.ok ? 0u : 1u);
                if (!r.ok) {
                    const MessageBoxRecord& box = watcher.Boxes()[0];
                    EXPECT_EQ(box.text, kNotAnInteger);
                    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONEXCLAMATION)) << MessageBoxWatcher::Describe(box);
                    EXPECT_EQ(box.buttons, std::vector<int>{ IDOK });
                }
            }
        },
        [&](CDataExchange* pDX) { DDX_Text(pDX, IDC_WRITE_DELAY_MS, member); });
}

struct RangeRow {
    const char* text;
    bool ok;
    int member; // after the exchange
};

TEST(DataExchange, RangeWhenSaving)
{
    const RangeRow rows[] = {
        /* 1 */ { "1", true, 1 },
        /* 2 */ { "20", true, 20 },
        /* 3 */ { "0", false, 0 },
        /* 4 */ { "21", false, 21 },
        /* 5 */ { "-5", false, -5 },
        /* 6 */ { "x", false, 777 }, // the parse fails first: one message only
        /* 7 */ { "99999999999", false, INT_MAX }, // an integer all the same: the range message
        /* 8 */ { " -99999999999 ", false, INT_MIN },
    };
    MessageBoxWatcher watcher;
    int member = 0;
    RunInDialog(
        [&](CProbeDialog& dlg) {
            int n = 0;
            for (const RangeRow& r : rows) {
                SCOPED_TRACE("row " + std::to_string(++n) + ": " + Shown(r.text));
                dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, r.text);
                member = 777;
                watcher.Clear();
                EXPECT_EQ(dlg.UpdateData(TRUE) != FALSE, r.ok);
                EXPECT_EQ(member, r.member);
                ASSERT_EQ(watcher.Boxes().size(), r.ok ? 0u : 1u);
                if (!r.ok) {
                    const MessageBoxRecord& box = watcher.Boxes()[0];
                    EXPECT_EQ(box.text, r.member == 777 ? kNotAnInteger : kOutOfRange);
                    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONEXCLAMATION)) << MessageBoxWatcher::Describe(box);
                    EXPECT_EQ(box.caption, "framework_tests");
                }
            }
            // Towards the controls a member outside the range is shown as it is.
            member = 50;
            watcher.Clear();
            EXPECT_TRUE(dlg.UpdateData(FALSE));
            EXPECT_EQ(dlg.GetDlgItemText(IDC_WRITE_DELAY_MS), "50");
            member = -42;
            EXPECT_TRUE(dlg.UpdateData(FALSE));
            EXPECT_EQ(dlg.GetDlgItemText(IDC_WRITE_DELAY_MS), "-42");
            EXPECT_TRUE(watcher.Boxes().empty());
        },
        [&](CDataExchange* pDX) {
            DDX_Text(pDX, IDC_WRITE_DELAY_MS, member);
            DDV_MinMaxInt(pDX, member, 1, 20);
        });
}

// A failed step ends the exchange with the earlier steps done and the later
// ones not begun.
TEST(DataExchange, FailureStopsTheList)
{
    MessageBoxWatcher watcher;
    std::string before;
    int number = 777;
    int after = 0;
    RunInDialog(
        [&](CProbeDialog& dlg) {
            dlg.SetDlgItemText(IDC_DATA_READ, "read back");
            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, "ten");
            ::SendMessageA(dlg.GetDlgItem(IDC_AUTO_BURN), BM_SETCHECK, BST_CHECKED, 0);
            EXPECT_FALSE(dlg.UpdateData(TRUE));
            EXPECT_EQ(before, "read back");
            EXPECT_EQ(number, 777);
            EXPECT_EQ(after, 0) << "the step after the failure ran";
            EXPECT_EQ(watcher.Boxes().size(), 1u);

            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, " 5 ");
            EXPECT_TRUE(dlg.UpdateData(TRUE));
            EXPECT_EQ(number, 5);
            EXPECT_EQ(after, 1);
        },
        [&](CDataExchange* pDX) {
            DDX_Text(pDX, IDC_DATA_READ, before);
            DDX_Text(pDX, IDC_WRITE_DELAY_MS, number);
            DDV_MinMaxInt(pDX, number, 1, 20);
            DDX_Check(pDX, IDC_AUTO_BURN, after);
        });
}

TEST(DataExchange, CheckAndTextBothWays)
{
    std::string text;
    int check = 0;
    RunInDialog(
        [&](CProbeDialog& dlg) {
            HWND box = dlg.GetDlgItem(IDC_AUTO_BURN);
            const struct {
                int member;
                LRESULT shown;
            } rows[] = { { 1, BST_CHECKED }, { 0, BST_UNCHECKED }, { 7, BST_UNCHECKED }, { -1, BST_UNCHECKED } };
            for (const auto& r : rows) {
                check = r.member;
                EXPECT_TRUE(dlg.UpdateData(FALSE));
                EXPECT_EQ(::SendMessageA(box, BM_GETCHECK, 0, 0), r.shown) << "member " << r.member;
            }
            for (LRESULT state : { BST_CHECKED, BST_UNCHECKED }) {
                ::SendMessageA(box, BM_SETCHECK, static_cast<WPARAM>(state), 0);
                check = 99;
                EXPECT_TRUE(dlg.UpdateData(TRUE));
                EXPECT_EQ(check, state == BST_CHECKED ? 1 : 0);
            }
            // Text keeps everything, line breaks and blanks included.
            text = std::string(300, 'x') + " \r\n end ";
            EXPECT_TRUE(dlg.UpdateData(FALSE));
            text.clear();
            EXPECT_TRUE(dlg.UpdateData(TRUE));
            EXPECT_EQ(text, std::string(300, 'x') + " \r\n end ");
        },
        [&](CDataExchange* pDX) {
            DDX_Text(pDX, IDC_DATA_READ, text);
            DDX_Check(pDX, IDC_AUTO_BURN, check);
        });
}

TEST(DataExchange, FailedExchangeSelectsTheField)
{
    MessageBoxWatcher watcher;
    int member = 0;
    const char* const texts[] = { " 12x", "21" }; // a parse failure, a range failure
    for (const char* text : texts) {
        SCOPED_TRACE(Shown(text));
        HWND focused = nullptr;
        HWND edit = nullptr;
        DWORD start = 99, end = 99;
        RunInDialog(
            [&](CProbeDialog& dlg) {
                // The template hides and disables the field; show it so that it can hold the focus.
                edit = dlg.GetDlgItem(IDC_WRITE_DELAY_MS);
                ::ShowWindow(edit, SW_SHOW);
                ::EnableWindow(edit, TRUE);
                ::SetFocus(dlg.GetDlgItem(IDC_SET));
                dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, text);
                ::SendMessageA(edit, EM_SETSEL, 1, 1);
                EXPECT_FALSE(dlg.UpdateData(TRUE));
                focused = ::GetFocus();
                ::SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
            },
            [&](CDataExchange* pDX) {
                DDX_Text(pDX, IDC_WRITE_DELAY_MS, member);
                DDV_MinMaxInt(pDX, member, 1, 20);
            });
        EXPECT_EQ(focused, edit);
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, static_cast<DWORD>(std::strlen(text)));
    }
}

// Setting a control from a member must not run the control's handlers, also
// when a message box inside the exchange lets other messages through.
TEST(DataExchange, NotificationsIgnoredWhileExchanging)
{
    MessageBoxWatcher watcher;
    int member = 5;
    RunInDialog(
        [&](CProbeDialog& dlg) {
            dlg.m_calls.clear();
            EXPECT_TRUE(dlg.UpdateData(FALSE));
            EXPECT_TRUE(dlg.m_calls.empty()) << "first: " << dlg.m_calls.front();

            // A failing exchange whose message box sees a posted exchange and
            // a control notification of its own.
            watcher.SetOnShow([&](const MessageBoxRecord&) {
                dlg.PostMessage(kMsgExchange);
                dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, "also ignored");
            });
            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, "bad");
            dlg.m_calls.clear();
            EXPECT_FALSE(dlg.UpdateData(TRUE));
            EXPECT_TRUE(dlg.m_calls.empty()) << "first: " << dlg.m_calls.front();
            watcher.SetOnShow(nullptr);

            // Outside an exchange the same change does reach the handlers.
            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, "7");
            const std::vector<std::string> expected = { "OnEditUpdate", "OnEditChange" };
            EXPECT_EQ(dlg.m_calls, expected);
        },
        [&](CDataExchange* pDX) { DDX_Text(pDX, IDC_WRITE_DELAY_MS, member); });
}

TEST(DataExchange, ControlsBoundAgainOnEveryRun)
{
    CListBox list;
    CButton button;
    for (int run = 0; run < 2; ++run) {
        RunInDialog(
            [&](CProbeDialog& dlg) {
                EXPECT_EQ(list.m_hWnd, dlg.GetDlgItem(IDC_DUMP_LIST)) << "run " << run;
                EXPECT_EQ(button.m_hWnd, dlg.GetDlgItem(IDC_AUTO_BURN)) << "run " << run;
                EXPECT_EQ(list.AddString("row"), 0);
            },
            [&](CDataExchange* pDX) {
                DDX_Control(pDX, IDC_DUMP_LIST, list);
                DDX_Control(pDX, IDC_AUTO_BURN, button);
            });
    }
}

TEST(DataExchange, MissingControlFailsWithoutMessage)
{
    MessageBoxWatcher watcher;
    std::string text = "kept";
    int later = 3;
    RunInDialog(
        [&](CProbeDialog& dlg) {
            EXPECT_FALSE(dlg.UpdateData(TRUE));
            EXPECT_EQ(text, "kept");
            EXPECT_EQ(later, 3);
        },
        [&](CDataExchange* pDX) {
            DDX_Text(pDX, 4321, text);
            DDX_Check(pDX, IDC_AUTO_BURN, later);
        });
    // The base initialisation's UpdateData(FALSE) failed the same way, silently.
    EXPECT_TRUE(watcher.Boxes().empty());
}

} // namespace
