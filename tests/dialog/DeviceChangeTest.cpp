// Device changes reach the dialog while the final message box of the
// one-shot update is open, and become the two private messages.

#include "DialogRun.h"
#include "QcDataFile.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

#include <string>

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

void SendHandleReport(CUpdateDlg& dlg, WPARAM event, HANDLE handle, HDEVNOTIFY notify = nullptr)
{
    DEV_BROADCAST_HANDLE report{};
    report.dbch_size = sizeof(report);
    report.dbch_devicetype = DBT_DEVTYP_HANDLE;
    report.dbch_handle = handle;
    report.dbch_hdevnotify = notify;
    ::SendMessageA(dlg.m_hWnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&report));
}

// Takes messages, sent and posted, as the box's own loop would, until the bus
// owes no report and nothing waits in the queue.
void Settle(SimHidSystem& sim)
{
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 5000;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        if (sim.PendingReportCount() == 0 &&
            HIWORD(::GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE)) == 0)
            return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
}

// The dialog busy with a burst whose progress display takes sent messages
// only: every report is classified, nothing posted runs.
void TakeSentOnly(SimHidSystem& sim)
{
    for (const DWORD start = ::GetTickCount();
         sim.PendingReportCount() != 0 && ::GetTickCount() - start < 5000;) {
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
    }
}

void Unplug(SimHidSystem& sim, CUpdateDlg&)
{
    sim.Unplug("Tablet");
    Settle(sim);
}

void RemoveOrderly(SimHidSystem& sim, CUpdateDlg&)
{
    sim.Unplug("Tablet", /*queryFirst=*/true);
    Settle(sim);
}

// The refusal classified before the posted removal runs.
void RefusalBeforeTheRemovalRuns(SimHidSystem& sim, CUpdateDlg& dlg)
{
    const HANDLE handle = dlg.m_eeprom.m_pDevice->handle;
    const HDEVNOTIFY notify = dlg.m_eeprom.m_hHandleNotify.Get();
    SendHandleReport(dlg, DBT_DEVICEQUERYREMOVE, handle, notify);
    SendHandleReport(dlg, DBT_DEVICEQUERYREMOVEFAILED, handle, notify);
    Settle(sim);
}

// An arrival posted earlier runs while the removal is being decided; opening
// the tablet then would refuse the removal.
void ArrivalWaitingDuringRemoval(SimHidSystem& sim, CUpdateDlg& dlg)
{
    ::PostMessageA(dlg.m_hWnd, WM_TABLET_ARRIVED, 0, 0);
    sim.Unplug("Tablet", /*queryFirst=*/true);
    // The query is sent, so it is handled ahead of the arrival.
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 2000;) {
        if (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) != 0)
            break;
        ::Sleep(1);
    }
    Settle(sim);
}

void UnplugWhileBusy(SimHidSystem& sim, CUpdateDlg&)
{
    sim.Unplug("Tablet");
    TakeSentOnly(sim);
    Settle(sim);
}

void ReplugWhileBusy(SimHidSystem& sim, CUpdateDlg&)
{
    sim.Unplug("Tablet");
    sim.Plug("Tablet");
    TakeSentOnly(sim);
    Settle(sim);
}

// A valid QC data file for auto-burn; its image is what the tablet must hold.
std::string WriteBurnFile(const std::array<BYTE, 256>& image)
{
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "devicechange-burn-" +
                             std::to_string(::GetCurrentProcessId()) + ".tqc";
    QcDataFile::Save(path.c_str(), image);
    return path;
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

// How removals end, whatever order their reports and the posted messages
// come in: as after an unplug (dump and result cleared, Exit enabled, only
// the interface registration left), or with the tablet open again as after
// an arrival.
TEST(DeviceChange, EachRemovalEndsWithTheTabletGoneOrOpenAgain)
{
    const UINT R = WM_TABLET_REMOVED;
    const UINT A = WM_TABLET_ARRIVED;
    struct Row {
        const char* what;
        bool queryFails;
        bool autoBurn;
        void (*act)(SimHidSystem&, CUpdateDlg&);
        std::vector<UINT> messages;
        bool open;
        const char* result;
    };
    const Row rows[] = {
        {"unplugged", false, false, Unplug, {R}, false, ""},
        {"unplugged while busy, auto-burn on", false, true, UnplugWhileBusy, {R}, false, ""},
        {"orderly removal granted", false, false, RemoveOrderly, {R, R}, false, ""},
        {"orderly removal refused", true, false, RemoveOrderly, {R, A}, true, ""},
        {"an arrival waiting while a removal is asked", false, false, ArrivalWaitingDuringRemoval,
         {A, R, R}, false, ""},
        {"refusal reported before the removal runs", false, false, RefusalBeforeTheRemovalRuns,
         {R, A}, true, ""},
        {"unplugged and replugged while busy", false, false, ReplugWhileBusy, {R}, true, ""},
        {"unplugged and replugged while busy, auto-burn on", false, true, ReplugWhileBusy, {R},
         true, "OK!"},
    };
    std::array<BYTE, 256> image{};
    for (unsigned address = 0; address < image.size(); ++address)
        image[address] = static_cast<BYTE>(address ^ 0x5A);
    const std::string burnFile = WriteBurnFile(image);
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        tablet.queryRemoveFails = row.queryFails;
        sim.AddDevice(tablet);
        const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg,
                                                       const MessageBoxRecord&) {
            ASSERT_TRUE(dlg.m_eeprom.m_pDevice);
            dlg.m_bAutoBurn = row.autoBurn ? TRUE : FALSE;
            dlg.m_strAutoBurnFile = row.autoBurn ? burnFile : std::string();
            bus.ClearTrace();
            row.act(bus, dlg);

            EXPECT_EQ(row.open, dlg.m_eeprom.m_pDevice != nullptr);
            EXPECT_EQ(row.open ? 16 : 0, dlg.m_lbDump.GetCount());
            char shown[64] = {};
            ::GetDlgItemTextA(dlg.m_hWnd, IDC_RESULT, shown, sizeof(shown));
            EXPECT_EQ(row.result, dlg.m_strResult);
            EXPECT_STREQ(row.result, shown);
            EXPECT_EQ(!row.open, dlg.m_btnExit.IsWindowEnabled() != FALSE);
            EXPECT_EQ(row.open, dlg.m_btnSet.IsWindowEnabled() != FALSE);
            EXPECT_EQ(row.open ? 2u : 1u, bus.RegistrationCount()) << "the interface's, and the handle's if open";
            EXPECT_EQ(row.open ? 1u : 0u, bus.OpenHandleCount("Tablet"));
            if (row.autoBurn && row.open) {
                EXPECT_EQ(image, bus.Eeprom("Tablet")) << "the replugged tablet was burned";
            }
            // A granted query: the handle is closed before the answer, and
            // nothing goes to the tablet from the query on.
            if (row.messages == std::vector<UINT>{R, R}) {
                std::vector<std::string> calls;
                for (const SimTraceEntry& entry : bus.Trace())
                    calls.push_back(entry.call);
                EXPECT_EQ((std::vector<std::string>{"QueryRemove", "Close", "Unplug"}), calls);
            }
        });
        EXPECT_EQ(row.messages, run.tabletMessages);
        ExpectEveryAnswerZero(run);
    }
    ::DeleteFileA(burnFile.c_str());
}
