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

namespace {

using Shape = std::vector<std::string>;

// A supported tablet that is on the bus but unplugged, so the one-shot update
// finds none and the dialog stays with its zero image buffer.
void AddAbsentTablet(SimHidSystem& sim, SimDeviceConfig tablet = SimDeviceConfig{})
{
    sim.AddDevice(tablet);
    sim.Unplug(tablet.name);
    sim.PumpMessages();
}

// The auto-burn file's image: no byte is 0xFF, the fresh tablet's value, so
// every byte the burn misses shows up as a difference.
QcDataFile::Image BurnImage()
{
    QcDataFile::Image image{};
    for (unsigned address = 0; address < image.size(); ++address)
        image[address] = static_cast<BYTE>((address * 7 + 3) % 255);
    return image;
}

enum class Burn { Off, GoodFile, MissingFile, IncompleteFile };

struct AutoBurnFiles {
    TempFolder folder;
    std::string good = folder.File("good.tqc");
    std::string incomplete = folder.File("incomplete.tqc");
    std::string missing = folder.File("missing.tqc");

    AutoBurnFiles()
    {
        QcDataFile::Save(good.c_str(), BurnImage());
        QcDataFile::Save(incomplete.c_str(), BurnImage());
        ::WritePrivateProfileStringA("EEPROM DATA", "Value100", nullptr, incomplete.c_str());
    }

    void Choose(CUpdateDlg& dlg, Burn burn) const
    {
        dlg.m_bAutoBurn = burn == Burn::Off ? FALSE : TRUE;
        dlg.m_strAutoBurnFile = burn == Burn::GoodFile      ? good
                                : burn == Burn::MissingFile ? missing
                                : burn == Burn::IncompleteFile ? incomplete
                                                               : std::string();
    }
};

void NoFault(SimDeviceConfig&) {}
void StuckAt17(SimDeviceConfig& tablet) { tablet.stuckAddress = 17; }
void ThirdWriteFails(SimDeviceConfig& tablet) { tablet.failWriteAt = 3; }
// With the tablet and the image buffer both all zeros, verifying against the
// buffer would pass although the tablet never got the file.
void AllZeros(SimDeviceConfig& tablet) { tablet.eeprom.fill(0); }
// Gone after its access request and 100 writes, while the burn runs inside Open.
void UnpluggedDuringTheBurn(SimDeviceConfig& tablet) { tablet.unplugAfterTransfers = 1 + 100; }
// Bytes 0x78..0x7F as in the dump's documented example row.
void ExampleLastRow(SimDeviceConfig& tablet)
{
    const BYTE row[8] = {0x30, 0x41, 0x5A, 0x61, 0x7A, 0x7B, 0x1F, 0x80};
    std::copy(row, row + 8, tablet.eeprom.begin() + 0x78);
}

struct ArrivalRow {
    const char* what;
    Burn burn;
    void (*tablet)(SimDeviceConfig&);
    const char* arriving; // the device plugged in while the box is open
    Shape shape;          // the traffic from that plug on
    std::vector<UINT> messages;
    const char* result;   // the result line
    bool tabletOpen;      // afterwards; decides Exit (disabled) and Set (enabled)
    size_t dumpRows;
    const char* lastDumpLine; // checked when given
};

const char kExampleLastLine[] =
    "78 : 30(048)  41(065)  5A(090)  61(097)  -  7A(122)  7B(123)  1F(031)  80(128)    0 A Z a z . . .";
// With no tablet the read-back fills the buffer with zeros.
const char kZeroLastLine[] =
    "78 : 00(000)  00(000)  00(000)  00(000)  -  00(000)  00(000)  00(000)  00(000)    . . . . . . . .";

const Shape kOpenedAndRead = {"Plug Tablet", "Open Tablet", "String 20", "Get 0..255"};
const Shape kBurnedAndVerified = {"Plug Tablet", "Open Tablet", "String 20", "Set 0..255",
                                  "String 21",   "String 20",   "Get 0..255", "Get 0..255"};
const std::vector<UINT> kArrived = {WM_TABLET_ARRIVED};

const ArrivalRow kArrivals[] = {
    {"auto-burn off", Burn::Off, ExampleLastRow, "Tablet", kOpenedAndRead, kArrived, "", true, 16,
     kExampleLastLine},
    {"auto-burn of a good file", Burn::GoodFile, NoFault, "Tablet", kBurnedAndVerified, kArrived,
     "OK!", true, 16, nullptr},
    {"a byte that does not stick: verification stops there", Burn::GoodFile, StuckAt17, "Tablet",
     {"Plug Tablet", "Open Tablet", "String 20", "Set 0..255", "String 21", "String 20", "Get 0..17",
      "Get 0..255"},
     kArrived, "Error!!", true, 16, nullptr},
    {"a failed write does not stop the burn", Burn::GoodFile, ThirdWriteFails, "Tablet",
     {"Plug Tablet", "Open Tablet", "String 20", "Set 0..255", "String 21", "String 20", "Get 0..2",
      "Get 0..255"},
     kArrived, "Error!!", true, 16, nullptr},
    {"a missing file is refused", Burn::MissingFile, AllZeros, "Tablet", kOpenedAndRead, kArrived,
     "Error!!", true, 16, nullptr},
    {"an incomplete file is refused", Burn::IncompleteFile, AllZeros, "Tablet", kOpenedAndRead,
     kArrived, "Error!!", true, 16, nullptr},
    {"only a mouse arrives, with the zero buffer", Burn::GoodFile, NoFault, "Mouse",
     {"Plug Mouse", "Open Mouse", "Close Mouse"}, kArrived, "Error!!", false, 16, kZeroLastLine},
    {"the tablet goes during the burn: its removal is still heard", Burn::GoodFile,
     UnpluggedDuringTheBurn, "Tablet",
     {"Plug Tablet", "Open Tablet", "String 20", "Set 0..99", "Unplug Tablet", "Set 100..255",
      "String 21", "String 20", "Get 0", "Get 0..255", "String 21", "Close Tablet"},
     {WM_TABLET_ARRIVED, WM_TABLET_REMOVED}, "", false, 0, nullptr},
};

} // namespace

TEST(TabletArrival, EachArrivalOpensBurnsVerifiesAndShowsAsItsRowSays)
{
    const AutoBurnFiles files;
    int number = 0;
    for (const ArrivalRow& row : kArrivals) {
        ++number;
        SCOPED_TRACE(testing::Message() << "row " << number << ": " << row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        row.tablet(tablet);
        AddAbsentTablet(sim, tablet);
        AddAbsentMouse(sim);

        Shape shape;
        DialogView view;
        std::string member;
        bool open = false;
        const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
            files.Choose(dlg, row.burn);
            bus.ClearTrace();
            bus.Plug(row.arriving);
            HandlePendingMessages(bus);
            shape = TrafficShape(bus);
            view = ViewOf(dlg);
            member = dlg.m_strResult;
            open = dlg.m_eeprom.m_pDevice != nullptr;
        });
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(row.shape, shape);
        EXPECT_EQ(row.messages, run.tabletMessages);
        EXPECT_EQ(row.result, view.result);
        EXPECT_EQ(row.result, member);
        EXPECT_EQ(row.tabletOpen, open);
        EXPECT_EQ(!row.tabletOpen, view.exitEnabled) << "Exit";
        EXPECT_EQ(row.tabletOpen, view.setEnabled) << "Set";
        EXPECT_EQ(row.dumpRows, view.dump.size());
        if (std::string(row.result) == "OK!") {
            EXPECT_EQ(BurnImage(), sim.Eeprom("Tablet"));
        }
        if (row.lastDumpLine != nullptr && !view.dump.empty()) {
            EXPECT_EQ(row.lastDumpLine, view.dump.back());
        }
    }
}

TEST(TabletArrival, ArrivalsClassifiedBeforeTheFirstIsHandledAreEachHandledInFull)
{
    // The tablet and a mouse plugged at once: both interface arrivals are
    // classified while no tablet is open, so each posts its message, and the
    // second reopens (and burns) the tablet the first one opened.
    const Shape burnedAndVerified(kBurnedAndVerified.begin() + 1, kBurnedAndVerified.end());
    const Shape openedAndRead(kOpenedAndRead.begin() + 1, kOpenedAndRead.end());
    struct Row {
        Burn burn;
        const Shape& handled; // what each message does
        const char* result;
    } rows[] = {{Burn::Off, openedAndRead, ""}, {Burn::GoodFile, burnedAndVerified, "OK!"}};

    const AutoBurnFiles files;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "auto-burn " << (row.burn == Burn::Off ? "off" : "on"));
        SimHidSystem sim;
        AddAbsentTablet(sim);
        AddAbsentMouse(sim);
        DialogView view;
        unsigned registrations = 0;
        const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
            files.Choose(dlg, row.burn);
            bus.ClearTrace();
            bus.Plug("Tablet");
            bus.Plug("Mouse");
            HandlePendingMessages(bus);
            view = ViewOf(dlg);
            registrations = bus.RegistrationCount();
        });
        Shape expected = {"Plug Tablet", "Plug Mouse"};
        expected.insert(expected.end(), row.handled.begin(), row.handled.end());
        expected.push_back("Close Tablet");
        expected.insert(expected.end(), row.handled.begin(), row.handled.end());
        expected.push_back("Close Tablet"); // the dialog's end
        EXPECT_EQ(expected, TrafficShape(sim));
        EXPECT_EQ(Messages({WM_TABLET_ARRIVED, WM_TABLET_ARRIVED}), run.tabletMessages);
        EXPECT_EQ(row.result, view.result);
        EXPECT_EQ(16u, view.dump.size()) << "the dump is cleared before it is drawn again";
        EXPECT_EQ(2u, registrations) << "the interface and the one open handle";
        if (row.burn == Burn::GoodFile) {
            EXPECT_EQ(BurnImage(), sim.Eeprom("Tablet"));
        }
    }
}

TEST(TabletArrival, ReplugsWhileTheFinalBoxIsOpenCloseAndReopenTheTablet)
{
    // After a successful update the user replugs the tablet, as asked, while
    // the box is still open; here twice, the first time with auto-burn on.
    const Shape removed = {"Unplug Tablet", "String 21", "Close Tablet"};
    struct Step {
        bool plug;
        Burn burn;
        Shape shape;
        const char* result;
        size_t dumpRows;
        bool tabletOpen;
    } steps[] = {
        {false, Burn::Off, removed, "", 0, false},
        {true, Burn::GoodFile, kBurnedAndVerified, "OK!", 16, true},
        {false, Burn::Off, removed, "", 0, false},
        {true, Burn::Off, kOpenedAndRead, "", 16, true},
    };

    const AutoBurnFiles files;
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    std::vector<Shape> shapes;
    std::vector<DialogView> views;
    std::vector<bool> open;
    bool imageKept = false;
    std::string dataRead;
    const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
        dlg.m_strDataRead = "0x12,  18    ";
        for (const Step& step : steps) {
            files.Choose(dlg, step.burn);
            bus.ClearTrace();
            if (step.plug)
                bus.Plug("Tablet");
            else
                bus.Unplug("Tablet");
            HandlePendingMessages(bus);
            shapes.push_back(TrafficShape(bus));
            views.push_back(ViewOf(dlg));
            open.push_back(dlg.m_eeprom.m_pDevice != nullptr);
            if (views.size() == 3) {
                // The removal clears what is shown, not the buffer behind it.
                imageKept = dlg.m_eeprom.m_image == BurnImage();
                dataRead = dlg.GetDlgItemText(IDC_DATA_READ);
            }
        }
        bus.ClearTrace();
    });
    ASSERT_EQ(1u, run.boxes.size());
    ASSERT_EQ(4u, views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i + 1 << (step.plug ? ": plug" : ": unplug"));
        EXPECT_EQ(step.shape, shapes[i]);
        EXPECT_EQ(step.result, views[i].result);
        EXPECT_EQ(step.dumpRows, views[i].dump.size());
        EXPECT_EQ(step.tabletOpen, open[i]);
        EXPECT_EQ(!step.tabletOpen, views[i].exitEnabled) << "Exit";
        EXPECT_EQ(step.tabletOpen, views[i].setEnabled) << "Set";
    }
    EXPECT_TRUE(imageKept);
    EXPECT_EQ("0x12,  18    ", dataRead);
    EXPECT_EQ(Messages({WM_TABLET_REMOVED, WM_TABLET_ARRIVED, WM_TABLET_REMOVED, WM_TABLET_ARRIVED}),
              run.tabletMessages);
    // Dismissing the box ends the dialog: its destruction closes the tablet
    // without ending the access.
    EXPECT_EQ(Shape{"Close Tablet"}, TrafficShape(sim));
    EXPECT_TRUE(sim.AccessOpen("Tablet"));
    EXPECT_EQ(0u, sim.OpenHandleCount("Tablet"));
    EXPECT_EQ(0u, sim.RegistrationCount());
}
