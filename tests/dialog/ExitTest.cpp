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

// Putting a bad entry into the field already shows its message twice, once
// for the edit's update and once for its change notification; Exit then
// shows it a third time, Escape does not.
const ExitRow kExits[] = {
    {"Exit with a valid delay", "10", {IDOK}, {}, IDOK},
    {"Exit with a delay above the range", "21", {IDOK}, {kOutOfRange, kOutOfRange, kOutOfRange}, kStillOpen},
    {"Exit with a delay below the range", "0", {IDOK}, {kOutOfRange, kOutOfRange, kOutOfRange}, kStillOpen},
    {"Exit with an empty delay", "", {IDOK}, {kNotAnInteger, kNotAnInteger, kNotAnInteger}, kStillOpen},
    {"Exit refused, then Escape", "21", {IDOK, IDCANCEL}, {kOutOfRange, kOutOfRange, kOutOfRange}, IDCANCEL},
    {"Escape does not read the controls", "abc", {IDCANCEL}, {kNotAnInteger, kNotAnInteger}, IDCANCEL},
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
            });
        }
        const DialogRun run = RunOpenDialog(sim, steps);

        EXPECT_EQ(row.result, run.result);
        std::vector<unsigned> expected(1 + row.commands.size(), 0u);
        expected[0] = 2; // the HID interface and the tablet's handle
        EXPECT_EQ(expected, registrations);
        EXPECT_EQ(std::vector<std::string>({"String 21", "Close Tablet"}), TrafficShape(sim));
        ASSERT_EQ(row.boxes.size(), run.boxes.size());
        for (size_t i = 0; i < row.boxes.size(); ++i) {
            EXPECT_EQ(row.boxes[i], run.boxes[i].text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), run.boxes[i].icon);
        }
    }
}
