// Leaving the dialog by Exit (or Enter) and by Escape (or the close box).

#include "DialogRun.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

namespace {

const char kNotAnInteger[] = "Please enter an integer.";
const char kOutOfRange[] = "Please enter an integer between 1 and 20.";

struct ExitRow {
    const char* what;
    const char* delay;              // the write-delay field's text
    std::vector<int> commands;      // one step each
    std::vector<std::string> boxes; // what the exchange tells the user, with the exclamation icon
    INT_PTR result;
};

// Outside the service mode the field is hidden, and the notifications of a
// hidden control are dropped: only Exit's exchange reads it, and Escape does
// not. (At the station each keystroke is read as well.)
const ExitRow kExits[] = {
    {"Exit with a valid delay", "10", {IDOK}, {}, IDOK},
    {"Exit with a delay above the range", "21", {IDOK}, {kOutOfRange}, kStillOpen},
    {"Exit with a delay below the range", "0", {IDOK}, {kOutOfRange}, kStillOpen},
    {"Exit with an empty delay", "", {IDOK}, {kNotAnInteger}, kStillOpen},
    {"Exit refused, then Escape", "21", {IDOK, IDCANCEL}, {kOutOfRange}, IDCANCEL},
    {"Escape does not read the controls", "abc", {IDCANCEL}, {}, IDCANCEL},
};

} // namespace

TEST(DialogExit, EveryWayOutClosesTheTabletAndReleasesTheRegistrations)
{
    int number = 0;
    for (const ExitRow& row : kExits) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        sim.Unplug("Tablet");
        sim.PumpMessages();
        std::vector<unsigned> registrations; // after the arrival, then after each command
        std::vector<std::string> traffic;    // after the last command
        std::vector<DialogStep> steps = {[&](SimHidSystem& bus, CUpdateDlg& dlg) {
            bus.Plug("Tablet"); // opened, its access begun
            HandlePendingMessages(bus);
            registrations.push_back(bus.RegistrationCount());
            dlg.SetDlgItemText(IDC_WRITE_DELAY_MS, row.delay);
            bus.ClearTrace();
        }};
        for (int command : row.commands) {
            steps.push_back([&, command](SimHidSystem& bus, CUpdateDlg& dlg) {
                ::SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
                registrations.push_back(bus.RegistrationCount());
                traffic = TrafficShape(bus);
            });
        }
        const DialogRun run = RunOpenDialog(sim, steps);

        EXPECT_EQ(row.result, run.result);
        // The HID interface and the tablet's handle. A refused Exit leaves
        // both, and the tablet open: the station still sees tablets come
        // and go while the operator mends the entry.
        std::vector<unsigned> expected = {2};
        for (int command : row.commands)
            expected.push_back(command == IDCANCEL || row.result == IDOK ? 0u : 2u);
        EXPECT_EQ(expected, registrations);
        const std::vector<std::string> leave = {"String 21", "Close Tablet"};
        EXPECT_EQ(row.result == kStillOpen ? std::vector<std::string>{} : leave, traffic);
        ASSERT_EQ(row.boxes.size(), run.boxes.size());
        for (size_t i = 0; i < row.boxes.size(); ++i) {
            EXPECT_EQ(row.boxes[i], run.boxes[i].text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), run.boxes[i].icon);
        }
    }
}

namespace {

enum class Way { CloseBox, EscapeKey, EnterKey, ExitClick };

// Hands every waiting message to the dialog as its own loop would, through
// the dialog's keyboard handling first, until none is left.
void HandleAsTheDialogLoop(CUpdateDlg& dlg)
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (dlg.m_hWnd != nullptr && ::IsDialogMessageA(dlg.m_hWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void PostKey(HWND control, UINT key)
{
    ::PostMessageA(control, WM_KEYDOWN, key, 1);
    ::PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

// The operator's own ways out, with the focus in the delay field: the close
// box (which sends the dialog SC_CLOSE), Escape and Enter typed in the field,
// and a mouse click on Exit, which takes the focus first.
void LeaveBy(Way way, CUpdateDlg& dlg)
{
    const HWND field = dlg.GetDlgItem(IDC_WRITE_DELAY_MS);
    switch (way) {
    case Way::CloseBox:
        ::PostMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Way::EscapeKey:
        PostKey(field, VK_ESCAPE);
        break;
    case Way::EnterKey:
        PostKey(field, VK_RETURN);
        break;
    case Way::ExitClick: {
        const HWND exit = dlg.GetDlgItem(IDOK);
        ::PostMessageA(exit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        ::PostMessageA(exit, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        break;
    }
    }
    HandleAsTheDialogLoop(dlg);
}

} // namespace

// At the station, with a refused delay in the field and the focus in it.
// Escape and the close box end the program, and on the way out the field's
// loss of the focus brings up no message: the dialog is gone. Exit and Enter
// read the controls and stay, with the one message that says why.
TEST(DialogExit, TheWayOutOverARefusedDelayAtTheStation)
{
    const struct {
        const char* what;
        Way way;
        size_t boxes; // shown once the field holds its entry
        bool ended;
    } rows[] = {
        {"the close box", Way::CloseBox, 0, true},
        {"Escape", Way::EscapeKey, 0, true},
        {"Enter", Way::EnterKey, 1, false},
        {"a click on Exit", Way::ExitClick, 1, false},
    };
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        bool ended = false;
        std::vector<MessageBoxRecord> boxes;
        const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
            // Set first, so that Exit can be clicked.
            Click(dlg, IDC_SET);
            ASSERT_TRUE(::IsWindowEnabled(dlg.GetDlgItem(IDOK)));
            const HWND field = dlg.GetDlgItem(IDC_WRITE_DELAY_MS);
            ::SendMessageA(dlg.m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
            ASSERT_EQ(field, ::GetFocus());
            Type(dlg, IDC_WRITE_DELAY_MS, "159");
            ASSERT_EQ(2u, watcher.Boxes().size()) << "the entry's update and change";
            watcher.Clear();

            LeaveBy(row.way, dlg);
            ended = !::IsWindowVisible(dlg.m_hWnd);
            boxes = watcher.Boxes();
        });
        EXPECT_EQ(row.ended, ended);
        // A dialog the script leaves open is cancelled after it.
        EXPECT_EQ(IDCANCEL, run.result);
        EXPECT_EQ(row.boxes, boxes.size());
        for (const MessageBoxRecord& box : boxes)
            EXPECT_EQ(kOutOfRange, box.text);
        EXPECT_EQ(row.boxes, run.boxes.size()) << "none after the script either";
        EXPECT_FALSE(sim.AccessOpen("Tablet"));
        EXPECT_EQ(0u, sim.RegistrationCount());
    }
}
