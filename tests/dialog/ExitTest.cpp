// Leaving the dialog through Exit (or Enter) and Escape (or the close box):
// the tablet's access is ended, the tablet closed and the HID interface
// registration released; Exit ends the dialog only with a valid write delay.

#include "DialogRun.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

namespace {

const char kNotAnInteger[] = "Please enter an integer.";
const char kOutOfRange[] = "Please enter an integer between 1 and 20.";

struct ExitRow {
    const char* what;
    const char* delay;          // the write-delay field's text
    std::vector<int> commands;  // one step each. IDOK: Exit or Enter; IDCANCEL: Escape or the close box
    std::vector<std::string> boxes; // what the exchange tells the user
    INT_PTR result;
};

const ExitRow kExits[] = {
    {"Exit with a valid delay", "10", {IDOK}, {}, IDOK},
    {"Exit with a delay above the range", "21", {IDOK}, {kOutOfRange}, kStillOpen},
    {"Exit with a delay below the range", "0", {IDOK}, {kOutOfRange}, kStillOpen},
    {"Exit with an empty delay", "", {IDOK}, {kNotAnInteger}, kStillOpen},
    {"Exit refused, then Escape", "21", {IDOK, IDCANCEL}, {kOutOfRange}, IDCANCEL},
    {"Escape does not read the controls", "abc", {IDCANCEL}, {}, IDCANCEL},
};

} // namespace

TEST(DialogExit, EachWayOutClosesTheTabletAndEndsTheDialogAsItsRowSays)
{
    int number = 0;
    for (const ExitRow& row : kExits) {
        ++number;
        SCOPED_TRACE(testing::Message() << "row " << number << ": " << row.what);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        sim.Unplug("Tablet");
        sim.PumpMessages();

        unsigned registrationsWhileOpen = 0;
        std::vector<unsigned> registrations;
        std::vector<DialogStep> steps = {[&](SimHidSystem& bus, CUpdateDlg& dlg) {
            // The tablet arrives and is opened, its access begun.
            bus.Plug("Tablet");
            HandlePendingMessages(bus);
            registrationsWhileOpen = bus.RegistrationCount();
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
        EXPECT_EQ(2u, registrationsWhileOpen) << "the HID interface and the tablet's handle";
        EXPECT_EQ(std::vector<unsigned>(row.commands.size(), 0u), registrations)
            << "both released by the first command, and every step ran";
        EXPECT_EQ(std::vector<std::string>({"String 21", "Close Tablet"}), TrafficShape(sim))
            << "the access ended and the tablet closed once";
        ASSERT_EQ(row.boxes.size(), run.boxes.size());
        for (size_t i = 0; i < row.boxes.size(); ++i) {
            EXPECT_EQ(row.boxes[i], run.boxes[i].text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), run.boxes[i].icon);
        }
        EXPECT_EQ(0u, sim.OpenHandleCount("Tablet"));
    }
}
