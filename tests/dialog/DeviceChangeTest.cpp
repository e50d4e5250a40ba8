// Device changes reach the dialog while the final message box of the
// one-shot update is open, and become the two private messages.

#include "DialogRun.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

namespace {

// A mouse that is on the bus but unplugged, ready to arrive.
void AddAbsentMouse(SimHidSystem& sim)
{
    sim.AddDevice(SimDeviceConfig::Mouse());
    sim.Unplug("Mouse");
    sim.PumpMessages();
}

std::vector<UINT> Messages(std::initializer_list<UINT> messages)
{
    return std::vector<UINT>(messages);
}

void ExpectEveryAnswerZero(const DialogRun& run)
{
    for (const DeviceChangeAnswer& answer : run.deviceChanges) {
        EXPECT_EQ(0, answer.result) << "event 0x" << std::hex << answer.event;
        EXPECT_NE(static_cast<LRESULT>(BROADCAST_QUERY_DENY), answer.result);
    }
}

void SendHandleReport(CUpdateDlg& dlg, WPARAM event, HANDLE handle)
{
    DEV_BROADCAST_HANDLE report{};
    report.dbch_size = sizeof(report);
    report.dbch_devicetype = DBT_DEVTYP_HANDLE;
    report.dbch_handle = handle;
    ::SendMessageA(dlg.m_hWnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&report));
}

} // namespace

TEST(DeviceChange, AMouseArrivingWhileNoTabletIsOpenPostsOneArrival)
{
    SimHidSystem sim;
    AddAbsentMouse(sim);
    const DialogRun run = RunUpdateDialog(sim, [](SimHidSystem& bus, CUpdateDlg&, const MessageBoxRecord&) {
        bus.Plug("Mouse");
    });
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(0, run.result) << "the no-tablet outcome";
    EXPECT_EQ(Messages({WM_TABLET_ARRIVED}), run.tabletMessages);
    ASSERT_EQ(1u, run.deviceChanges.size());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEARRIVAL), run.deviceChanges[0].event);
    ExpectEveryAnswerZero(run);
}

TEST(DeviceChange, UnpluggingTheOpenTabletPostsOneRemoval)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunUpdateDialog(sim, [](SimHidSystem& bus, CUpdateDlg&, const MessageBoxRecord&) {
        bus.Unplug("Tablet");
    });
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(IDOK, run.result);
    // The handle's removal counts; the interface's removal does not.
    EXPECT_EQ(Messages({WM_TABLET_REMOVED}), run.tabletMessages);
    EXPECT_EQ(2u, run.deviceChanges.size());
    ExpectEveryAnswerZero(run);
}

TEST(DeviceChange, AnOrderlyRemovalIsGrantedAndPostsTwoRemovals)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunUpdateDialog(sim, [](SimHidSystem& bus, CUpdateDlg&, const MessageBoxRecord&) {
        bus.Unplug("Tablet", /*queryFirst=*/true);
    });
    // Query and completion are both classified before the first message is
    // handled, so each posts one.
    EXPECT_EQ(Messages({WM_TABLET_REMOVED, WM_TABLET_REMOVED}), run.tabletMessages);
    ASSERT_FALSE(run.deviceChanges.empty());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEQUERYREMOVE), run.deviceChanges[0].event);
    ExpectEveryAnswerZero(run);
}

TEST(DeviceChange, ArrivalsWhileTheTabletIsOpenPostNothing)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    AddAbsentMouse(sim);
    const DialogRun run = RunUpdateDialog(sim, [](SimHidSystem& bus, CUpdateDlg&, const MessageBoxRecord&) {
        bus.Plug("Mouse");
    });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.tabletMessages.empty());
    EXPECT_EQ(1u, run.deviceChanges.size());
    ExpectEveryAnswerZero(run);
}

TEST(DeviceChange, OtherEventsAndOtherHandlesPostNothing)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    sim.AddDevice(SimDeviceConfig::Mouse());
    const DialogRun run = RunUpdateDialog(sim, [](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
        ASSERT_TRUE(dlg.m_eeprom.m_pDevice);
        HANDLE tablet = dlg.m_eeprom.m_pDevice->handle;
        SendHandleReport(dlg, DBT_DEVICEQUERYREMOVEFAILED, tablet);
        SendHandleReport(dlg, DBT_DEVICEREMOVEPENDING, tablet);
        SendHandleReport(dlg, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<HANDLE>(0x7777));
        SendHandleReport(dlg, DBT_DEVICEQUERYREMOVE, reinterpret_cast<HANDLE>(0x7777));
        bus.Unplug("Mouse"); // an interface removal, never opened by us
    });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.tabletMessages.empty());
    EXPECT_EQ(5u, run.deviceChanges.size());
    ExpectEveryAnswerZero(run);
}

TEST(DeviceChange, TheDialogsEndReleasesBothRegistrationsAndTheTablet)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    unsigned whileOpen = 0;
    unsigned handlesWhileOpen = 0;
    RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg&, const MessageBoxRecord&) {
        whileOpen = bus.RegistrationCount();
        handlesWhileOpen = bus.OpenHandleCount("Tablet");
    });
    EXPECT_EQ(2u, whileOpen) << "the HID interface and the tablet's handle";
    EXPECT_EQ(1u, handlesWhileOpen);
    EXPECT_EQ(0u, sim.RegistrationCount());
    EXPECT_EQ(0u, sim.OpenHandleCount("Tablet"));
}
