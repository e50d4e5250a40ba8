// Device changes reach the dialog while the final message box of the
// one-shot update is open, become the two private messages, and the dialog
// reacts to those: it closes the tablet, or reopens it (burning the auto-burn
// file when one is set) and shows its first 128 bytes.

#include "DialogRun.h"
#include "QcDataFile.h"
#include "TempFolder.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
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

// A removal query is granted with TRUE, as Windows documents; every other
// report is answered 0.
void ExpectEveryAnswerGranted(const DialogRun& run)
{
    for (const DeviceChangeAnswer& answer : run.deviceChanges)
        EXPECT_EQ(answer.event == DBT_DEVICEQUERYREMOVE ? TRUE : 0, answer.result) << "event 0x" << std::hex << answer.event;
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

// The query, the completed removal and the arrival all classified before
// the posted removals run.
// The burn on the tablet's return fails; then its removal is refused.
void BurnFailsThenRemovalRefused(SimHidSystem& sim, CUpdateDlg& dlg)
{
    Unplug(sim, dlg);
    sim.Plug("Tablet");
    Settle(sim);
    ASSERT_EQ(std::string("Error!!"), dlg.m_strResult);
    RemoveOrderly(sim, dlg);
}

void RemoveOrderlyAndReplugWhileBusy(SimHidSystem& sim, CUpdateDlg&)
{
    sim.Unplug("Tablet", /*queryFirst=*/true);
    // The bus decides the removal from a message of its own; the dialog's
    // two messages wait.
    for (const DWORD start = ::GetTickCount(); sim.IsPlugged("Tablet") && ::GetTickCount() - start < 5000;) {
        MSG msg;
        if (::PeekMessageA(&msg, nullptr, 0, WM_TABLET_ARRIVED - 1, PM_REMOVE) ||
            ::PeekMessageA(&msg, nullptr, WM_TABLET_REMOVED + 1, 0xFFFF, PM_REMOVE))
            ::DispatchMessageA(&msg);
        else
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    TakeSentOnly(sim);
    sim.Plug("Tablet");
    TakeSentOnly(sim);
    Settle(sim);
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
    ExpectEveryAnswerGranted(run);
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
    ExpectEveryAnswerGranted(run);
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
    ExpectEveryAnswerGranted(run);
}

// Nor do they touch the tablet: afterwards it is still open, and both the
// interface's registration and its handle's are still there to hear its own
// removal.
TEST(DeviceChange, OtherEventsAndOtherHandlesPostNothing)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    sim.AddDevice(SimDeviceConfig::Mouse());
    std::vector<std::string> untouched;
    const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
        ASSERT_TRUE(dlg.m_eeprom.m_pDevice);
        const HANDLE tablet = dlg.m_eeprom.m_pDevice->handle;
        const auto check = [&](const char* after) {
            if (dlg.m_eeprom.m_pDevice && dlg.m_eeprom.m_pDevice->handle == tablet &&
                bus.OpenHandleCount("Tablet") == 1 && bus.RegistrationCount() == 2 && dlg.m_eeprom.m_hHandleNotify)
                untouched.push_back(after);
        };
        bus.Unplug("Mouse"); // an interface removal, never opened by us
        HandlePendingMessages(bus);
        check("the mouse's removal");
        SendHandleReport(dlg, DBT_DEVICEQUERYREMOVEFAILED, tablet);
        HandlePendingMessages(bus);
        check("an unasked-for refusal of the tablet's removal");
        SendHandleReport(dlg, DBT_DEVICEQUERYREMOVE, reinterpret_cast<HANDLE>(0x7777));
        HandlePendingMessages(bus);
        check("a removal query for another handle");
        SendHandleReport(dlg, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<HANDLE>(0x7777));
        HandlePendingMessages(bus);
        check("another handle's removal");
    });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.tabletMessages.empty());
    EXPECT_EQ(4u, run.deviceChanges.size());
    ExpectEveryAnswerGranted(run);
    EXPECT_EQ((std::vector<std::string>{"the mouse's removal", "an unasked-for refusal of the tablet's removal",
                                        "a removal query for another handle", "another handle's removal"}),
              untouched);
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

namespace {

using Shape = std::vector<std::string>;

Shape Then(Shape first, const Shape& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// On the bus but unplugged: the one-shot update finds no tablet, so the
// dialog's image buffer stays all zeros.
void AddAbsentTablet(SimHidSystem& sim, const SimDeviceConfig& tablet)
{
    sim.AddDevice(tablet);
    sim.Unplug(tablet.name);
    sim.PumpMessages();
}

// No byte is 0xFF, a fresh tablet's value, so every byte the burn misses shows.
QcDataFile::Image BurnImage()
{
    QcDataFile::Image image{};
    for (unsigned address = 0; address < image.size(); ++address)
        image[address] = static_cast<BYTE>((address * 7 + 3) % 255);
    return image;
}

// Auto-burn files by name: "good", "incomplete" (one key gone), "missing".
struct BurnFiles {
    TempFolder folder;
    BurnFiles()
    {
        QcDataFile::Save(folder.File("good").c_str(), BurnImage());
        QcDataFile::Save(folder.File("incomplete").c_str(), BurnImage());
        ::WritePrivateProfileStringA("EEPROM DATA", "Value100", nullptr, folder.File("incomplete").c_str());
    }
    // nullptr turns auto-burn off.
    void Choose(CUpdateDlg& dlg, const char* file) const
    {
        dlg.m_bAutoBurn = file != nullptr;
        dlg.m_strAutoBurnFile = file != nullptr ? folder.File(file) : std::string();
    }
};

void NoFault(SimDeviceConfig&) {}
void StuckAt17(SimDeviceConfig& tablet) { tablet.stuckAddress = 17; }
void ThirdWriteFails(SimDeviceConfig& tablet) { tablet.failWriteAt = 3; }
// Tablet and buffer both all zeros: verifying against the buffer would pass
// although the tablet never got the file.
void AllZeros(SimDeviceConfig& tablet) { tablet.eeprom.fill(0); }
// Gone after its access request and 100 writes, while Open burns the file.
void GoneDuringTheBurn(SimDeviceConfig& tablet) { tablet.unplugAfterTransfers = 1 + 100; }
// The dump's documented example row at 0x28, and the characters' edges in its last row.
void DumpExamples(SimDeviceConfig& tablet)
{
    const BYTE example[8] = {0x30, 0x41, 0x5A, 0x61, 0x7A, 0x7B, 0x1F, 0x80};
    const BYTE edges[8] = {0x20, 0x00, 0xFF, 0x7F, 0x21, 0x09, 0xAB, 0x7A};
    std::copy(example, example + 8, tablet.eeprom.begin() + 0x28);
    std::copy(edges, edges + 8, tablet.eeprom.begin() + 0x78);
}

const Shape kRead = {"Open Tablet", "String 20", "Get 0..255"};
const Shape kBurned = {"Open Tablet", "String 20", "Set 0..255", "String 21", "String 20", "Get 0..255", "Get 0..255"};
const UINT kIn = WM_TABLET_ARRIVED;
const UINT kOut = WM_TABLET_REMOVED;

struct ArrivalRow {
    const char* what;
    const char* file; // the auto-burn file; nullptr: auto-burn off
    void (*fault)(SimDeviceConfig&);
    Shape plugged;    // plugged at once while the box is open
    Shape traffic;    // from the plugs on
    std::vector<UINT> messages;
    const char* result;
    bool tabletOpen;  // then Exit is disabled and Set enabled
    size_t dumpRows;
};

const ArrivalRow kArrivals[] = {
    {"auto-burn off", nullptr, DumpExamples, {"Tablet"}, Then({"Plug Tablet"}, kRead), {kIn}, "", true, 16},
    {"a good file", "good", NoFault, {"Tablet"}, Then({"Plug Tablet"}, kBurned), {kIn}, "OK!", true, 16},
    {"a byte that does not stick stops the verification", "good", StuckAt17, {"Tablet"},
     {"Plug Tablet", "Open Tablet", "String 20", "Set 0..255", "String 21", "String 20", "Get 0..17", "Get 0..255"},
     {kIn}, "Error!!", true, 16},
    {"a failed write does not stop the burn", "good", ThirdWriteFails, {"Tablet"},
     {"Plug Tablet", "Open Tablet", "String 20", "Set 0..255", "String 21", "String 20", "Get 0..2", "Get 0..255"},
     {kIn}, "Error!!", true, 16},
    {"a missing file", "missing", AllZeros, {"Tablet"}, Then({"Plug Tablet"}, kRead), {kIn}, "Error!!", true, 16},
    {"an incomplete file", "incomplete", AllZeros, {"Tablet"}, Then({"Plug Tablet"}, kRead), {kIn}, "Error!!", true, 16},
    {"only a mouse, with the zero buffer", "good", NoFault, {"Mouse"}, {"Plug Mouse", "Open Mouse", "Close Mouse"},
     {kIn}, "Error!!", false, 16},
    // Two arrivals classified before the first is handled: the second
    // reopens the tablet and burns it again.
    {"the tablet and a mouse at once", "good", NoFault, {"Tablet", "Mouse"},
     Then(Then({"Plug Tablet", "Plug Mouse"}, kBurned), Then({"Close Tablet"}, kBurned)), {kIn, kIn}, "OK!", true, 16},
    // Heard only if the tablet's handle is registered before the burn.
    {"the tablet goes during the burn", "good", GoneDuringTheBurn, {"Tablet"},
     {"Plug Tablet", "Open Tablet", "String 20", "Set 0..99", "Unplug Tablet", "Set 100..255", "String 21",
      "String 20", "Get 0", "Get 0..255", "String 21", "Close Tablet"},
     {kIn, kOut}, "", false, 0},
};

} // namespace

TEST(TabletArrival, EachArrivalIsHandledAsItsRowSays)
{
    const BurnFiles files;
    int number = 0;
    for (const ArrivalRow& row : kArrivals) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        row.fault(tablet);
        AddAbsentTablet(sim, tablet);
        AddAbsentTablet(sim, SimDeviceConfig::Mouse());
        DialogView view;
        const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
            files.Choose(dlg, row.file);
            bus.ClearTrace();
            for (const std::string& name : row.plugged)
                bus.Plug(name);
            HandlePendingMessages(bus);
            view = ViewOf(dlg, bus);
            bus.ClearTrace();
        });
        EXPECT_EQ(row.messages, run.tabletMessages);
        EXPECT_EQ(row.result, view.result);
        EXPECT_EQ(!row.tabletOpen, view.exitEnabled) << "Exit";
        EXPECT_EQ(row.tabletOpen, view.setEnabled) << "Set";
        EXPECT_EQ(row.dumpRows, view.dump.size());
        EXPECT_EQ(row.traffic, view.traffic);
        if (std::string(row.result) == "OK!") {
            EXPECT_EQ(BurnImage(), sim.Eeprom("Tablet"));
        }
        if (row.fault == DumpExamples) {
            ASSERT_EQ(16u, view.dump.size());
            EXPECT_EQ("28 : 30(048)  41(065)  5A(090)  61(097)  -  7A(122)  7B(123)  1F(031)  80(128)    0 A Z a z . . .",
                      view.dump[5]);
            // 0x20 shows as a blank: six blanks before the first '.'.
            EXPECT_EQ("78 : 20(032)  00(000)  FF(255)  7F(127)  -  21(033)  09(009)  AB(171)  7A(122)      . . . ! . . z",
                      view.dump[15]);
        }
    }
}

TEST(TabletArrival, ReplugsWhileTheFinalBoxIsOpenCloseAndReopenTheTablet)
{
    // After a successful update the user replugs the tablet, as asked, while
    // the box is still open; here three times, the first and the last with
    // auto-burn on. The last comes after an end of session was granted: it
    // waits until the session goes on.
    const Shape removed = {"Unplug Tablet", "String 21", "Close Tablet"};
    enum Action { Unplug, Plug, SessionAsked, SessionGoesOn };
    struct Step {
        Action action;
        const char* file;
        Shape traffic;
        const char* result;
        bool tabletOpen;
    } steps[] = {
        {Unplug, nullptr, removed, "", false},
        {Plug, "good", Then({"Plug Tablet"}, kBurned), "OK!", true},
        {Unplug, nullptr, removed, "", false},
        {Plug, nullptr, Then({"Plug Tablet"}, kRead), "", true},
        {SessionAsked, nullptr, {}, "", true},
        {Unplug, nullptr, removed, "", false},
        {Plug, "good", {"Plug Tablet"}, "", false},
        {SessionGoesOn, "good", kBurned, "OK!", true},
    };
    const BurnFiles files;
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    std::vector<DialogView> views;
    bool imageKept = false;
    const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
        dlg.m_strDataRead = "0x12,  18    ";
        for (const Step& step : steps) {
            files.Choose(dlg, step.file);
            bus.ClearTrace();
            switch (step.action) {
            case Unplug:
                bus.Unplug("Tablet");
                break;
            case Plug:
                bus.Plug("Tablet");
                break;
            case SessionAsked:
                EXPECT_EQ(TRUE, SendAsTheSession(dlg.m_hWnd, WM_QUERYENDSESSION, 0)) << "no burst runs";
                break;
            case SessionGoesOn:
                SendAsTheSession(dlg.m_hWnd, WM_ENDSESSION, FALSE);
                break;
            }
            HandlePendingMessages(bus);
            views.push_back(ViewOf(dlg, bus));
            if (views.size() == 3) // a removal clears what is shown, not the buffer
                imageKept = dlg.m_eeprom.m_image == BurnImage();
        }
        bus.ClearTrace();
    });
    ASSERT_EQ(std::size(steps), views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i + 1);
        EXPECT_EQ(steps[i].traffic, views[i].traffic);
        EXPECT_EQ(steps[i].result, views[i].result);
        EXPECT_EQ(steps[i].tabletOpen ? 16u : 0u, views[i].dump.size());
        EXPECT_EQ(!steps[i].tabletOpen, views[i].exitEnabled) << "Exit";
        EXPECT_EQ(steps[i].tabletOpen, views[i].setEnabled) << "Set";
        EXPECT_EQ("0x12,  18    ", views[i].dataRead);
    }
    EXPECT_TRUE(imageKept);
    EXPECT_EQ(std::vector<UINT>({kOut, kIn, kOut, kIn, kOut, kIn, kIn}), run.tabletMessages)
        << "the arrival that waited is posted again";
    // The box dismissed, the dialog's end closes the tablet without ending its access.
    EXPECT_EQ(Shape{"Close Tablet"}, TrafficShape(sim));
    EXPECT_TRUE(sim.AccessOpen("Tablet"));
    EXPECT_EQ(0u, sim.RegistrationCount());
}

// With the final box open no burst runs, so an end of session is granted;
// when it comes, the tablet is closed as the dialog's end would close it,
// its access left open for the replug the box asks for, and nothing the
// tablet does afterwards is heard.
TEST(TabletArrival, AnEndOfSessionWhileTheFinalBoxIsOpenClosesTheTablet)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    LRESULT answer = -1;
    Shape atTheEnd;
    unsigned registrations = 99;
    Shape replugged;
    const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
        answer = SendAsTheSession(dlg.m_hWnd, WM_QUERYENDSESSION, 0);
        bus.ClearTrace();
        SendAsTheSession(dlg.m_hWnd, WM_ENDSESSION, TRUE);
        atTheEnd = TrafficShape(bus);
        registrations = bus.RegistrationCount();
        bus.ClearTrace();
        bus.Unplug("Tablet");
        bus.Plug("Tablet");
        HandlePendingMessages(bus);
        replugged = TrafficShape(bus);
    });
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(TRUE, answer);
    EXPECT_EQ(Shape{"Close Tablet"}, atTheEnd);
    EXPECT_EQ(0u, registrations);
    EXPECT_EQ((Shape{"Unplug Tablet", "Plug Tablet"}), replugged);
    EXPECT_TRUE(run.tabletMessages.empty());
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
        unsigned writes; // Set Features the tablet received: 256 for one burn
        bool burnFails = false; // one byte does not stick
    };
    // A tablet whose removal was refused never left: it is taken up again
    // with the verdict it had, and not burned again. One that
    // was really gone and came back is burned once, whatever reports its
    // going left behind.
    const Row rows[] = {
        {"unplugged", false, false, Unplug, {R}, false, "", 0},
        {"unplugged while busy, auto-burn on", false, true, UnplugWhileBusy, {R}, false, "", 0},
        {"orderly removal granted", false, false, RemoveOrderly, {R, R}, false, "", 0},
        {"orderly removal refused", true, false, RemoveOrderly, {R, A}, true, "", 0},
        {"orderly removal refused, auto-burn on", true, true, RemoveOrderly, {R, A}, true, "", 0},
        {"a failed burn, then its removal refused", true, true, BurnFailsThenRemovalRefused, {R, A, R, A}, true,
         "Error!!", 256, true},
        {"an arrival waiting while a removal is asked", false, false, ArrivalWaitingDuringRemoval,
         {A, R, R}, false, "", 0},
        {"refusal reported before the removal runs", false, false, RefusalBeforeTheRemovalRuns,
         {R, A}, true, "", 0},
        {"refusal reported before the removal runs, auto-burn on", false, true, RefusalBeforeTheRemovalRuns,
         {R, A}, true, "", 0},
        {"unplugged and replugged while busy", false, false, ReplugWhileBusy, {R, A}, true, "", 0},
        {"unplugged and replugged while busy, auto-burn on", false, true, ReplugWhileBusy, {R, A},
         true, "OK!", 256},
        {"removed orderly and replugged while busy, auto-burn on", false, true, RemoveOrderlyAndReplugWhileBusy,
         {R, R, A}, true, "OK!", 256},
    };
    const BurnFiles files;
    const std::string burnFile = files.folder.File("good");
    const QcDataFile::Image image = BurnImage();
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        tablet.queryRemoveFails = row.queryFails;
        tablet.stuckAddress = row.burnFails ? 5 : -1;
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
            EXPECT_EQ(row.writes, CallsOf(bus, "SetFeature").size());
            if (row.writes != 0 && !row.burnFails) {
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
        ExpectEveryAnswerGranted(run);
    }
}
