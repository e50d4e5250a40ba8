// The one-shot update with real windows: what the user is told, what the
// dialog returns, and what the tablet sees.

#include "DefaultEepromImage.h"
#include "DialogRun.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace {

const char kNoTablet[] =
    "Please plug in the tablet to another USB Port.\nExecute the program again after a minute.";
const char kUnsupported[] = "This program does not support the tablet Firmware update function.\n";
const char kUpdated[] =
    "Tablet firmware has been updated,\n please plug in the tablet USB cable again.";
const char kFailed[] = "Tablet firmware has been updated failed,\n please try again.";

const char kCaption[] = "dialog_tests";

unsigned CountOf(const SimHidSystem& sim, const std::string& call)
{
    return static_cast<unsigned>(CallsOf(sim, call).size());
}

std::string Hex(BYTE value)
{
    char text[4];
    std::snprintf(text, sizeof(text), "%02X", value);
    return text;
}

struct OutcomeRow {
    const char* what;
    void (*setUp)(SimHidSystem&);
    const char* text;
    UINT icon;
    INT_PTR result;
    unsigned writes; // Set Feature requests, failed ones included
};

void NoDevice(SimHidSystem&) {}
void MouseOnly(SimHidSystem& sim) { sim.AddDevice(SimDeviceConfig::Mouse()); }
void Healthy(SimHidSystem& sim) { sim.AddDevice(SimDeviceConfig{}); }
void OtherProduct(SimHidSystem& sim)
{
    SimDeviceConfig tablet;
    tablet.productId = 0x0043;
    sim.AddDevice(tablet);
}
void WithFirmware(SimHidSystem& sim, const char* firmware)
{
    SimDeviceConfig tablet;
    tablet.firmware = firmware;
    sim.AddDevice(tablet);
}
void FirmwareExact(SimHidSystem& sim) { WithFirmware(sim, "R514"); }
void FirmwareThreeChars(SimHidSystem& sim) { WithFirmware(sim, "R51"); }
void FirmwareEmpty(SimHidSystem& sim) { WithFirmware(sim, ""); }
void FirmwareLowerCase(SimHidSystem& sim) { WithFirmware(sim, "r514 V2"); }
void FirmwareOther(SimHidSystem& sim) { WithFirmware(sim, "R515 V2"); }
void StuckByte(SimHidSystem& sim)
{
    SimDeviceConfig tablet;
    tablet.stuckAddress = 17;
    sim.AddDevice(tablet);
}
// The last byte of the image: every one of the 248 is compared.
void LastImageByteDoesNotStick(SimHidSystem& sim)
{
    SimDeviceConfig tablet;
    tablet.stuckAddress = kDefaultImageSize - 1;
    tablet.eeprom[tablet.stuckAddress] = static_cast<BYTE>(~DefaultEepromImage[kDefaultImageSize - 1]);
    sim.AddDevice(tablet);
}
void FirstWriteFails(SimHidSystem& sim)
{
    SimDeviceConfig tablet;
    tablet.failWriteAt = 1; // address 0, whose image byte 0x55 differs from the tablet's 0xFF
    sim.AddDevice(tablet);
}
// The read-back of address 0x15 fails. A failed read leaves the report id,
// 4, in the buffer, and 4 is also the image byte there: it must still not
// count as verified.
void ReadBackFailsWhereImageHoldsFour(SimHidSystem& sim)
{
    ASSERT_EQ(0x04, DefaultEepromImage[0x15]);
    SimDeviceConfig tablet;
    tablet.failReadAt = 256 + 0x15 + 1;
    sim.AddDevice(tablet);
}
// The first full read asks for the addresses in order: make the one of `address` fail.
void FirstReadFailsAt(SimHidSystem& sim, unsigned address)
{
    SimDeviceConfig tablet;
    tablet.failReadAt = address + 1;
    sim.AddDevice(tablet);
}
void Byte247Unreadable(SimHidSystem& sim) { FirstReadFailsAt(sim, 247); }
void Byte248Unreadable(SimHidSystem& sim) { FirstReadFailsAt(sim, 248); }
void Byte255Unreadable(SimHidSystem& sim) { FirstReadFailsAt(sim, 255); }
void UnpluggedMidWrite(SimHidSystem& sim)
{
    SimDeviceConfig tablet;
    tablet.unplugAfterTransfers = 1 + 256 + 1 + 100; // identity, read, access, 100 writes
    sim.AddDevice(tablet);
}

const OutcomeRow kOutcomes[] = {
    {"no HID device", NoDevice, kNoTablet, MB_ICONHAND, 0, 0},
    {"only a mouse", MouseOnly, kNoTablet, MB_ICONHAND, 0, 0},
    {"healthy tablet", Healthy, kUpdated, MB_ICONINFORMATION, IDOK, 256},
    {"firmware exactly R514", FirmwareExact, kUpdated, MB_ICONINFORMATION, IDOK, 256},
    {"other product id", OtherProduct, kUnsupported, MB_ICONHAND, 0, 0},
    {"firmware of three characters", FirmwareThreeChars, kUnsupported, MB_ICONHAND, 0, 0},
    {"empty firmware string", FirmwareEmpty, kUnsupported, MB_ICONHAND, 0, 0},
    {"firmware in lower case", FirmwareLowerCase, kUnsupported, MB_ICONHAND, 0, 0},
    {"other firmware", FirmwareOther, kUnsupported, MB_ICONHAND, 0, 0},
    {"a byte that does not stick", StuckByte, kFailed, MB_ICONHAND, IDOK, 256},
    {"the image's last byte (247) does not stick", LastImageByteDoesNotStick, kFailed, MB_ICONHAND,
     IDOK, 256},
    {"the first write fails, the others are still sent", FirstWriteFails, kFailed, MB_ICONHAND,
     IDOK, 256},
    {"a read-back fails where the image holds 4", ReadBackFailsWhereImageHoldsFour, kFailed,
     MB_ICONHAND, IDOK, 256},
    {"tablet unplugged during the write", UnpluggedMidWrite, kFailed, MB_ICONHAND, IDOK, 256},
    // A byte above 247 goes back as read; one that could not be read would go
    // back as the report id left in the buffer, so nothing is written at all.
    {"byte 247 unreadable: the image replaces it", Byte247Unreadable, kUpdated, MB_ICONINFORMATION,
     IDOK, 256},
    {"byte 248 unreadable", Byte248Unreadable, kFailed, MB_ICONHAND, IDOK, 0},
    {"byte 255 unreadable", Byte255Unreadable, kFailed, MB_ICONHAND, IDOK, 0},
};

} // namespace

TEST(OneShotUpdate, EachOutcomeShowsOneBoxWithItsTextIconAndResult)
{
    int row = 0;
    for (const OutcomeRow& outcome : kOutcomes) {
        ++row;
        SCOPED_TRACE(testing::Message() << "row " << row << ": " << outcome.what);
        SimHidSystem sim;
        outcome.setUp(sim);
        // The box must not go unseen: in front, owned by the shown update
        // window, whose taskbar button leads back to it. (Wine hands the box
        // the foreground with or without MB_SETFOREGROUND, even after another
        // thread took it, so here inFront guards against the box opening
        // behind its own window, not against focus-stealing protection.)
        bool inFront = false, ownerShown = false, ownerInTaskbar = false;
        HWND dialog = nullptr;
        const DialogRun run =
            RunUpdateDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, const MessageBoxRecord&) {
                dialog = dlg.m_hWnd;
                const HWND front = ::GetForegroundWindow();
                inFront = front != nullptr && front != dialog && ::GetWindow(front, GW_OWNER) == dialog;
                ownerShown = ::IsWindowVisible(dialog) != FALSE;
                ownerInTaskbar = (::GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0;
            });

        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(dialog, run.boxes[0].owner) << "owned by the dialog";
        EXPECT_TRUE(inFront) << "the box is the foreground window";
        EXPECT_TRUE(ownerShown);
        EXPECT_TRUE(ownerInTaskbar);
        EXPECT_EQ(kCaption, run.boxes[0].caption);
        EXPECT_EQ(outcome.text, run.boxes[0].text);
        EXPECT_EQ(outcome.icon, run.boxes[0].icon)
            << MessageBoxWatcher::IconName(run.boxes[0].icon);
        EXPECT_EQ(std::vector<int>{IDOK}, run.boxes[0].buttons);
        EXPECT_EQ(outcome.result, run.result);
        EXPECT_EQ(outcome.writes, CountOf(sim, "SetFeature"));
        // The dialog's end releases everything: no handle, no registration.
        EXPECT_EQ(0u, sim.RegistrationCount());
    }
}

TEST(OneShotUpdate, ProgressWindowFromTheFirstTransferToTheFinalBox)
{
    SimHidSystem sim;
    Healthy(sim);
    const DialogRun run = RunUpdateDialog(sim, {}, true);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kUpdated, run.boxes[0].text);
    ASSERT_FALSE(run.progress.empty());

    // Shown with its warning before the first write.
    const ProgressStep& first = run.atFirstWrite;
    EXPECT_EQ(1u, first.writes);
    EXPECT_TRUE(first.dialogVisible);
    EXPECT_TRUE(first.dialogCentred);
    EXPECT_EQ(std::vector<std::string>{"Updating the tablet. Do not unplug it."}, first.texts);

    // Each position painted is the count of transfers made by then (with the
    // settling wait's steps once it is over), never one left behind; painted
    // empty before the first transfer, and right after the first write,
    // which waited for that; full before the box.
    const unsigned transfers = static_cast<unsigned>(CallsOf(sim, "GetFeature").size() +
                                                     CallsOf(sim, "SetFeature").size() +
                                                     CallsOf(sim, "GetIndexedString").size());
    EXPECT_EQ(770u, transfers);
    EXPECT_EQ(0u, run.progress.front().transfers);
    EXPECT_EQ(0, run.progress.front().position);
    const ProgressStep& last = run.progress.back();
    const int settleSteps = last.end - static_cast<int>(transfers);
    bool paintedDuringTheWrite = false;
    for (size_t i = 0; i + 1 < run.progress.size(); ++i) {
        const ProgressStep& step = run.progress[i];
        const int done = static_cast<int>(step.transfers);
        const bool settled = step.writes == 256 && step.position == done + settleSteps;
        EXPECT_TRUE(step.position == done || settled)
            << "painted at " << step.position << " after " << done << " transfers";
        paintedDuringTheWrite = paintedDuringTheWrite || (step.writes == 1 && step.position == done);
    }
    EXPECT_TRUE(paintedDuringTheWrite);
    EXPECT_EQ(last.end, last.position);
    EXPECT_TRUE(last.dialogVisible);

    // The click on Exit posted during the write was dropped: no exit, and no
    // end of access that leaving would have sent.
    EXPECT_TRUE(run.clickPosted);
    EXPECT_EQ(0u, run.exitCommandsBeforeBox);
    EXPECT_EQ(IDOK, run.result);
    for (const SimTraceEntry& entry : CallsOf(sim, "GetIndexedString"))
        EXPECT_NE("21", entry.arguments.substr(0, 2));
}

// Nothing from outside cuts the write in half. On the real clock, so that
// the write takes its real 2.6 s and the burst's looks at its queue come
// every 50 ms of real time, as they would for a user:
// - an end of session, asked at the 10th write from another thread as the
//   session manager asks, is refused, and answered long before the write
//   ends, which only a burst that keeps retrieving its messages can do;
// - a removal query at the 40th write is refused, and the tablet stays open
//   to the read-back;
// - once the burst is over (the final box open), both are granted again.
// Wine does not implement the shutdown screen's reason (its call fails), and
// no test here can see the system's idle timer, so neither is checked.
TEST(OneShotUpdate, NothingInterruptsTheWrite)
{
    SimHidSystem sim(SimClockKind::Real);
    SimDeviceConfig tablet;
    tablet.unplugAfterTransfers = 1 + 256 + 1 + 40; // identity, read, access, 40 writes
    tablet.removeOrderly = true;
    sim.AddDevice(tablet);

    std::atomic<unsigned> writes{0};
    std::atomic<unsigned> answeredAt{0};
    std::atomic<LRESULT> answer{-1};
    std::thread session;
    sim.SetTraceObserver([&](const SimTraceEntry& entry) {
        if (entry.call != "SetFeature" || ++writes != 10)
            return;
        const HWND dialog = AfxGetApp()->m_pMainWnd->GetSafeHwnd();
        session = std::thread([&answer, &answeredAt, &writes, dialog] {
            answer = ::SendMessageA(dialog, WM_QUERYENDSESSION, 0, 0);
            answeredAt = writes.load();
        });
    });
    LRESULT endAfterwards = -1;
    LRESULT removalAfterwards = -1;
    const DialogRun run = RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
        endAfterwards = ::SendMessageA(dlg.m_hWnd, WM_QUERYENDSESSION, 0, 0);
        // After a yes Windows always says how it went: here the shutdown was called off.
        ::SendMessageA(dlg.m_hWnd, WM_ENDSESSION, FALSE, 0);
        bus.Unplug("Tablet", /*queryFirst=*/true);
        HandlePendingMessages(bus);
        removalAfterwards = bus.IsPlugged("Tablet") ? 1 : 0;
    });
    sim.SetTraceObserver({});
    if (session.joinable())
        session.join();

    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kUpdated, run.boxes[0].text);
    EXPECT_EQ(256u, CountOf(sim, "SetFeature"));
    EXPECT_EQ(512u, CountOf(sim, "GetFeature")) << "the read-back too";

    EXPECT_EQ(FALSE, answer.load()) << "end of session during the write";
    EXPECT_GE(answeredAt.load(), 10u);
    EXPECT_LT(answeredAt.load(), 100u) << "answered at write " << answeredAt.load();
    EXPECT_EQ(TRUE, endAfterwards) << "end of session with the final box open";

    std::vector<LRESULT> queries;
    for (const DeviceChangeAnswer& change : run.deviceChanges) {
        if (change.event == DBT_DEVICEQUERYREMOVE)
            queries.push_back(change.result);
    }
    EXPECT_EQ((std::vector<LRESULT>{static_cast<LRESULT>(BROADCAST_QUERY_DENY), TRUE}), queries)
        << "refused during the write, granted with the final box open";
    EXPECT_EQ(0, removalAfterwards) << "the tablet went once the query was granted";
}

namespace {

// An orderly removal asked at the first window the update creates once the
// tablet is open: the first place after the open where the thread can take a
// message sent from another thread (Windows may also deliver one while
// showing the window, or at the progress display's first look at its queue).
SimHidSystem* g_removeAtFirstWindow = nullptr;
HHOOK g_firstWindowHook = nullptr;

LRESULT CALLBACK AskRemovalAtFirstWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && g_removeAtFirstWindow != nullptr) {
        SimHidSystem* sim = g_removeAtFirstWindow;
        g_removeAtFirstWindow = nullptr;
        sim->Unplug("Tablet", /*queryFirst=*/true);
        sim->PumpMessages();
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

// Granted there, the query would close the tablet before its identity is
// checked, and the check would look at a tablet that is no longer open.
TEST(OneShotUpdate, ARemovalAskedBeforeTheIdentityCheckIsRefused)
{
    SimHidSystem sim;
    Healthy(sim);
    g_removeAtFirstWindow = &sim;
    sim.SetTraceObserver([](const SimTraceEntry& entry) {
        if (entry.call == "Open" && g_firstWindowHook == nullptr)
            g_firstWindowHook = ::SetWindowsHookExA(WH_CBT, AskRemovalAtFirstWindow, nullptr, ::GetCurrentThreadId());
    });
    const DialogRun run = RunUpdateDialog(sim);
    sim.SetTraceObserver({});
    ::UnhookWindowsHookEx(g_firstWindowHook);
    g_firstWindowHook = nullptr;
    ASSERT_EQ(nullptr, g_removeAtFirstWindow) << "the removal was asked";

    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kUpdated, run.boxes[0].text);
    ASSERT_FALSE(run.deviceChanges.empty());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEQUERYREMOVE), run.deviceChanges[0].event);
    EXPECT_EQ(BROADCAST_QUERY_DENY, run.deviceChanges[0].result);
    EXPECT_EQ(256u, CountOf(sim, "SetFeature"));
}

TEST(OneShotUpdate, WithNoTabletNoTransferIsMade)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig::Mouse());
    const DialogRun run = RunUpdateDialog(sim);
    EXPECT_EQ(0, run.result);
    EXPECT_EQ(0u, CountOf(sim, "GetFeature"));
    EXPECT_EQ(0u, CountOf(sim, "SetFeature"));
    EXPECT_EQ(0u, CountOf(sim, "GetIndexedString"));
}

TEST(OneShotUpdate, ProductIsCheckedBeforeTheFirmwareString)
{
    SimHidSystem sim;
    SimDeviceConfig tablet;
    tablet.productId = 0x0043;
    tablet.firmware = "XXXX";
    sim.AddDevice(tablet);
    const DialogRun run = RunUpdateDialog(sim);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kUnsupported, run.boxes[0].text);
    EXPECT_EQ(0u, CountOf(sim, "GetIndexedString")) << "the string is asked only of the right product";
}

TEST(OneShotUpdate, OnlyTheLowBytesOfTheFirstFourCharactersAreJudged)
{
    // The firmware strings are written in UTF-8 and the simulated tablet
    // told so, whatever code page this process runs in: each character below
    // has a high byte, and the low byte of the character it stands for.
    const char kR[] = "\xC5\x92";        // U+0152, low byte 0x52 'R'
    const char kHiraganaR[] = "\xE3\x81\x92"; // U+3052, low byte 0x52 'R'
    const char k5[] = "\xC4\xB5";        // U+0135, low byte 0x35 '5'
    const char k1[] = "\xD4\xB1";        // U+0531, low byte 0x31 '1'
    const char k4[] = "\xD0\xB4";        // U+0434, low byte 0x34 '4'
    const char kS[] = "\xC5\x93";        // U+0153, low byte 0x53 'S'
    struct Row {
        std::string firmware;
        bool supported;
    };
    const Row rows[] = {
        {std::string(kR) + "514", true},
        {std::string("R") + k5 + "14", true},
        {std::string("R5") + k1 + "4", true},
        {std::string("R51") + k4, true},
        {std::string(kHiraganaR) + k5 + k1 + k4 + " V2", true},
        {std::string("R514") + kR, true},
        {std::string(kR) + "51", false},
        {std::string(kS) + "514", false},
        {std::string("R51") + kS, false},
        {"R5 14", false},
    };
    int number = 0;
    for (const Row& row : rows) {
        ++number;
        SCOPED_TRACE(testing::Message() << "row " << number);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        tablet.firmware = row.firmware;
        tablet.firmwareCodePage = CP_UTF8;
        sim.AddDevice(tablet);
        const DialogRun run = RunUpdateDialog(sim);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(row.supported ? kUpdated : kUnsupported, run.boxes[0].text);
    }
}

TEST(OneShotUpdate, TrafficOfASuccessfulUpdate)
{
    SimHidSystem sim;
    Healthy(sim);
    const DialogRun run = RunUpdateDialog(sim);
    ASSERT_EQ(IDOK, run.result);

    // Identity, one full read, the access request, 256 paced writes, the
    // settling pause, one full read-back, and no end of access.
    const std::vector<std::string> expected = {"Open Tablet", "String 98", "Get 0..255", "String 20",
                                               "Set 0..255",  "Get 0..255", "Close Tablet"};
    EXPECT_EQ(expected, TrafficShape(sim));

    const auto reads = CallsOf(sim, "GetFeature");
    const auto writes = CallsOf(sim, "SetFeature");
    ASSERT_EQ(512u, reads.size());
    ASSERT_EQ(256u, writes.size());
    for (unsigned i = 0; i < 512; ++i)
        ASSERT_EQ("len=" + std::to_string(i % 256 + 8), reads[i].arguments) << "read " << i;

    for (unsigned i = 1; i < writes.size(); ++i)
        ASSERT_GE(writes[i].timeMs - writes[i - 1].timeMs, 10u) << "write " << i;
    // On the virtual clock the pause after a write lasts the same every time,
    // so the settling wait shows exactly.
    const DWORD pause = writes[255].timeMs - writes[254].timeMs;
    EXPECT_EQ(reads[256].timeMs - writes.back().timeMs, pause + 300u)
        << "the last write is paced too, then the tablet is given 300 ms";

    for (unsigned address = 0; address < kDefaultImageSize; ++address)
        ASSERT_EQ(DefaultEepromImage[address], sim.Eeprom("Tablet")[address]) << address;
    EXPECT_TRUE(sim.AccessOpen("Tablet")) << "no end of access after the one-shot burst";
}

TEST(OneShotUpdate, BytesAbove247AreWrittenBackUnchangedAndNotCompared)
{
    SimHidSystem sim;
    SimDeviceConfig tablet;
    for (unsigned address = 248; address < 256; ++address)
        tablet.eeprom[address] = static_cast<BYTE>(0x30 + address - 248);
    tablet.stuckAddress = 250; // would fail the update if it were compared
    sim.AddDevice(tablet);

    const DialogRun run = RunUpdateDialog(sim);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kUpdated, run.boxes[0].text);

    const auto writes = CallsOf(sim, "SetFeature");
    ASSERT_EQ(256u, writes.size());
    for (unsigned address = 248; address < 256; ++address) {
        const BYTE code = static_cast<BYTE>(address + 8);
        const BYTE value = static_cast<BYTE>(0x30 + address - 248);
        const std::string expected = "04 " + Hex(code) + " " + Hex(value) + " " +
                                     Hex(static_cast<BYTE>(code ^ value)) + " 00 00 00 00";
        EXPECT_EQ(expected, writes[address].arguments) << "address " << address;
    }
}

TEST(OneShotUpdate, TheDelayMemberPacesTheWrites)
{
    struct Row {
        int writeDelayChecked;
        int writeDelay;
        DWORD minimumGap;
    } rows[] = {
        {TRUE, 10, 10},
        {TRUE, 20, 20},
        {FALSE, 10, 0},
        // Values the field refuses leave the last accepted delay in force:
        // with the box checked never none, 10 ms before any was accepted.
        {TRUE, 21, 10},
        {TRUE, 0, 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "checked " << row.writeDelayChecked << " delay "
                                        << row.writeDelay);
        SimHidSystem sim;
        Healthy(sim);
        std::vector<DWORD> times;
        {
            MessageBoxWatcher watcher;
            CUpdateDlg dlg(sim);
            dlg.m_bWriteDelay = row.writeDelayChecked;
            dlg.m_nWriteDelay = row.writeDelay;
            dlg.DoModal();
        }
        const auto writes = CallsOf(sim, "SetFeature");
        ASSERT_EQ(256u, writes.size());
        DWORD smallest = 0xFFFFFFFF;
        for (unsigned i = 1; i < writes.size(); ++i)
            smallest = std::min(smallest, writes[i].timeMs - writes[i - 1].timeMs);
        if (row.minimumGap == 0)
            EXPECT_EQ(0u, smallest) << "no pause: none is in force";
        else
            EXPECT_GE(smallest, row.minimumGap);
    }
}

TEST(OneShotUpdate, IconsPickersAndTheWaitCursor)
{
    SimHidSystem sim;
    Healthy(sim);
    // The calls made while the user sees the wait cursor.
    const HCURSOR wait = ::LoadCursor(nullptr, IDC_WAIT);
    std::vector<std::string> waiting;
    sim.SetTraceObserver([&](const SimTraceEntry& entry) {
        if (::GetCursor() == wait)
            waiting.push_back(entry.call);
    });
    LRESULT icon = 0;
    std::vector<LRESULT> shown;
    std::vector<std::string> entries;
    RunUpdateDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, const MessageBoxRecord&) {
        icon = reinterpret_cast<LRESULT>(dlg.m_hIcon);
        shown = {::SendMessageA(dlg.m_hWnd, WM_GETICON, ICON_BIG, 0),
                 ::SendMessageA(dlg.m_hWnd, WM_GETICON, ICON_SMALL, 0),
                 ::SendMessageA(dlg.m_hWnd, WM_QUERYDRAGICON, 0, 0)};
        const struct {
            int id;
            WPARAM index;
        } picks[] = {{IDC_ADDRESS, 0}, {IDC_ADDRESS, 127}, {IDC_SET_VALUE, 10}, {IDC_SET_VALUE, 255}};
        for (const auto& pick : picks) {
            char text[32] = {};
            if (::SendMessageA(dlg.GetDlgItem(pick.id), CB_GETLBTEXTLEN, pick.index, 0) < 32)
                ::SendMessageA(dlg.GetDlgItem(pick.id), CB_GETLBTEXT, pick.index, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        entries.push_back(std::to_string(::SendMessageA(dlg.GetDlgItem(IDC_ADDRESS), CB_GETCOUNT, 0, 0)) + " " +
                          std::to_string(::SendMessageA(dlg.GetDlgItem(IDC_SET_VALUE), CB_GETCOUNT, 0, 0)));
    });
    sim.SetTraceObserver({});

    ASSERT_NE(0, icon);
    EXPECT_EQ(std::vector<LRESULT>(3, icon), shown) << "big, small and drag icon";
    EXPECT_EQ(std::vector<std::string>({"  0 : 0x00", "127 : 0x7F", " 10 : 0x0A", "255 : 0xFF", "128 256"}), entries);
    // Only the search for the tablet: the cursor is back before the transfers.
    EXPECT_EQ(std::vector<std::string>{"Open"}, waiting);
}
