// The service station with real windows over the simulated tablet: the
// operator's clicks and keystrokes sent to the controls, message boxes and
// file dialogs answered from hooks, files real.

#include "DialogRun.h"
#include "QcDataFile.h"
#include "TempFolder.h"
#include "UpdateDlg.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using Image = std::array<BYTE, 256>;

const char kNotAnInteger[] = "Please enter an integer.";
const char kOutOfRange[] = "Please enter an integer between 1 and 20.";

Image Pattern(unsigned start, unsigned step)
{
    Image image{};
    for (unsigned i = 0; i < image.size(); ++i)
        image[i] = static_cast<BYTE>(start + i * step);
    return image;
}

std::string QcText(const Image& image)
{
    std::string text = "[EEPROM DATA]\r\n";
    for (unsigned address = 0; address < image.size(); ++address) {
        char line[32];
        std::snprintf(line, sizeof(line), "Value%03u=%u\r\n", address, image[address]);
        text += line;
    }
    return text;
}

unsigned CountOf(const SimHidSystem& sim, const std::string& call)
{
    return static_cast<unsigned>(CallsOf(sim, call).size());
}

bool Enabled(CUpdateDlg& dlg, int id)
{
    return ::IsWindowEnabled(dlg.GetDlgItem(id)) != FALSE;
}

} // namespace

TEST(ServicePanel, OpensAsAServiceStationAndTakesUpThePluggedTablet)
{
    SimHidSystem sim;
    SimDeviceConfig tablet;
    tablet.eeprom[0x78] = 0x7A;
    sim.AddDevice(tablet);

    const DialogRun run = RunServiceDialog(sim, [](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher&) {
        EXPECT_EQ("Update - service mode", dlg.GetWindowText());
        for (HWND child = ::GetWindow(dlg.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            const int id = ::GetDlgCtrlID(child);
            if (id == 0)
                continue; // the long commands' progress line and bar, shown while they run
            EXPECT_TRUE(::IsWindowVisible(child)) << "control " << id;
            if (id != IDOK) {
                EXPECT_TRUE(::IsWindowEnabled(child)) << "control " << id;
            }
        }
        EXPECT_FALSE(Enabled(dlg, IDOK)) << "a tablet arrived: Set before Exit";
        EXPECT_TRUE(Enabled(dlg, IDC_SET));

        // The frame holds every control of the panel.
        RECT panel = {0, 0, 453, 313};
        ::MapDialogRect(dlg.m_hWnd, &panel);
        RECT client;
        dlg.GetClientRect(&client);
        EXPECT_GE(client.right, panel.right);
        EXPECT_GE(client.bottom, panel.bottom);

        EXPECT_EQ(128, dlg.m_cbAddress.GetCount());
        EXPECT_EQ(256, dlg.m_cbSetValue.GetCount());
        const std::vector<std::string> dump = DumpLines(dlg);
        ASSERT_EQ(16u, dump.size());
        EXPECT_EQ(0u, dump[15].find("78 : 7A(122)  FF(255)")) << "the tablet's own bytes";
        EXPECT_EQ("10", dlg.GetDlgItemText(IDC_WRITE_DELAY_MS));

        // Taken up as an arrival: the access begun, the whole image read, no
        // identity check and nothing written.
        EXPECT_EQ(256u, CountOf(bus, "GetFeature"));
        EXPECT_EQ(0u, CountOf(bus, "SetFeature"));
        const auto strings = CallsOf(bus, "GetIndexedString");
        ASSERT_EQ(1u, strings.size());
        EXPECT_EQ("20", strings[0].arguments);

        // Set before Exit.
        Type(dlg, IDC_ADDRESS, "1");
        Type(dlg, IDC_SET_VALUE, "2");
        Click(dlg, IDC_SET);
        EXPECT_TRUE(Enabled(dlg, IDOK));
        Click(dlg, IDOK);
    });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(sim.AccessOpen("Tablet")) << "Exit ends the access";
    EXPECT_EQ(0u, sim.RegistrationCount());
}

TEST(ServicePanel, GetAndSetShowTheirLineAndSwitchExitAndSet)
{
    const char kReadRefused[] = "Address not 0..255: nothing read";
    const char kWriteRefused[] = "Address not 0..255: nothing written";
    struct Row {
        const char* what;
        int button;
        const char* address;
        const char* value;
        const char* shown;
        const char* read;  // the Get Feature's arguments, or null for none
        const char* write; // the Set Feature's report, or null for none
        bool exitAfter;
    } rows[] = {
        {"a chosen list entry", IDC_GET, "  5 : 0x05", "", "0xAA,  170    ", "len=13", nullptr, false},
        {"a typed address beyond the list", IDC_GET, "200", "", "0x11,  17    ", "len=208", nullptr, false},
        {"an empty box reads address 0", IDC_GET, "", "", "0x55,  85    ", "len=8", nullptr, false},
        {"address 255", IDC_GET, "255", "", "0xFF,  255    ", "len=263", nullptr, false},
        {"address 256 is refused", IDC_GET, "256", "", kReadRefused, nullptr, nullptr, false},
        {"a negative address is refused", IDC_GET, "-1", "", kReadRefused, nullptr, nullptr, false},
        {"a number too large for the box is refused", IDC_GET, "99999999999", "", kReadRefused, nullptr,
         nullptr, false},
        {"Set writes, reads back and enables Exit", IDC_SET, "7", " 66 : 0x42", "0x42,  66    OK", "len=15",
         "04 0F 42 4D 00 00 00 00", true},
        {"Set of 256 writes 0x00 and is an error", IDC_SET, "7", "256", "0x00,  0    Error", "len=15",
         "04 0F 00 0F 00 00 00 00", true},
        {"Set of a byte that does not stick", IDC_SET, "17", "1", "0xFF,  255    Error", "len=25",
         "04 19 01 18 00 00 00 00", true},
        {"Set to address 300 is refused and switches nothing", IDC_SET, "300", "66", kWriteRefused, nullptr,
         nullptr, false},
    };
    int number = 0;
    for (const Row& row : rows) {
        ++number;
        SCOPED_TRACE(testing::Message() << "row " << number << ": " << row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        tablet.eeprom[0] = 0x55;
        tablet.eeprom[5] = 0xAA;
        tablet.eeprom[200] = 0x11;
        tablet.stuckAddress = 17;
        sim.AddDevice(tablet);
        RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher&) {
            bus.ClearTrace();
            Type(dlg, IDC_ADDRESS, row.address);
            Type(dlg, IDC_SET_VALUE, row.value);
            Click(dlg, row.button);
            EXPECT_EQ(row.shown, TextOf(dlg, IDC_DATA_READ));
            const auto reads = CallsOf(bus, "GetFeature");
            const auto writes = CallsOf(bus, "SetFeature");
            ASSERT_EQ(row.read ? 1u : 0u, reads.size());
            ASSERT_EQ(row.write ? 1u : 0u, writes.size());
            if (row.read) {
                EXPECT_EQ(row.read, reads[0].arguments);
            }
            if (row.write) {
                EXPECT_EQ(row.write, writes[0].arguments);
            }
            EXPECT_EQ(0u, CountOf(bus, "GetIndexedString")) << "no access request of its own";
            EXPECT_EQ(row.exitAfter, Enabled(dlg, IDOK));
            EXPECT_EQ(!row.exitAfter, Enabled(dlg, IDC_SET));
            EXPECT_EQ(16, dlg.m_lbDump.GetCount()) << "the dump is left alone";
        });
    }
}

// A byte whose read failed holds the report id, 4, in the image: it is never
// sent to the tablet or saved as data, until a full read or a load replaces it.
TEST(ServicePanel, SetAllAndSaveRefuseAnImageWithBytesThatWereNotRead)
{
    TempFolder folder;
    const std::string good = folder.File("good.tqc");
    const Image image = Pattern(3, 7);
    TempFolder::WriteTo(good, QcText(image));
    struct Row {
        const char* what;
        unsigned failReadAt;
        bool getAll;
    } rows[] = {
        {"a read of the arrival failed", 6, false},
        {"a read of Get All failed", 256 + 10, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        tablet.failReadAt = row.failReadAt;
        sim.AddDevice(tablet);
        const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
            if (row.getAll)
                Click(dlg, IDC_GET_ALL);
            const std::vector<std::string> dump = DumpLines(dlg);
            ASSERT_EQ(16u, dump.size());
            EXPECT_NE(std::string::npos, dump[row.getAll ? 1 : 0].find("04(004)"));
            bus.ClearTrace();
            Click(dlg, IDC_SET_ALL);
            EXPECT_TRUE(bus.Trace().empty()) << "nothing sent";
            watcher.QueueFileAnswer(folder.File("unread.tqc"));
            Click(dlg, IDC_SAVE);
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(folder.File("unread.tqc").c_str()));

            // A load replaces every byte: now Set All burns the file, paced,
            // with no access request and no read-back.
            watcher.QueueFileAnswer(good);
            Click(dlg, IDC_LOAD);
            Click(dlg, IDC_SET_ALL);
            const auto writes = CallsOf(bus, "SetFeature");
            ASSERT_EQ(256u, writes.size());
            for (unsigned i = 1; i < writes.size(); ++i)
                ASSERT_GE(writes[i].timeMs - writes[i - 1].timeMs, 10u) << "write " << i;
            EXPECT_EQ(256u, bus.Trace().size()) << "writes only";
            EXPECT_TRUE(bus.Eeprom("Tablet") == image);
        });
        ASSERT_EQ(2u, run.boxes.size());
        EXPECT_NE(std::string::npos, run.boxes[0].text.find("Nothing was written")) << run.boxes[0].text;
        EXPECT_NE(std::string::npos, run.boxes[1].text.find("Nothing was saved")) << run.boxes[1].text;
        EXPECT_EQ(static_cast<UINT>(MB_ICONHAND), run.boxes[0].icon);
    }
}

TEST(ServicePanel, LoadAndSaveRoundTripThroughRealFiles)
{
    TempFolder folder;
    const std::string source = folder.File("source.tqc");
    const Image image = Pattern(0xF0, 3);
    TempFolder::WriteTo(source, "[Station]\r\nLine=4\r\n" + QcText(image) + "[Notes]\r\nBy=QC\r\n");

    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        bus.ClearTrace();
        watcher.QueueFileAnswer(source);
        Click(dlg, IDC_LOAD);
        const std::vector<std::string> dump = DumpLines(dlg);
        ASSERT_EQ(16u, dump.size());
        EXPECT_EQ(0, dump[0].compare(0, 13, "00 : F0(240) ")) << dump[0];
        EXPECT_TRUE(dlg.m_eeprom.m_image == image);

        // A name typed without an extension gets ".tqc".
        watcher.QueueFileAnswer(folder.File("copy"));
        Click(dlg, IDC_SAVE);
        // Saving over the loaded file gives it back unchanged.
        watcher.QueueFileAnswer(source);
        Click(dlg, IDC_SAVE);
        EXPECT_TRUE(bus.Trace().empty()) << "files only, no traffic";
        // Cancelled dialogs change nothing.
        watcher.QueueFileAnswer("");
        Click(dlg, IDC_LOAD);
        watcher.QueueFileAnswer("");
        Click(dlg, IDC_SAVE);
        EXPECT_TRUE(dlg.m_eeprom.m_image == image);
    });
    EXPECT_TRUE(run.boxes.empty()) << MessageBoxWatcher::Describe(run.boxes[0]);
    EXPECT_EQ(5u, run.fileDialogs.size());

    for (const std::string& path : {folder.File("copy.tqc"), source}) {
        SCOPED_TRACE(path);
        Image loaded{};
        EXPECT_EQ(QcDataFile::LoadResult::Valid, QcDataFile::Load(path.c_str(), loaded));
        EXPECT_TRUE(loaded == image);
    }
    const std::string saved = TempFolder::Read(source);
    EXPECT_NE(std::string::npos, saved.find("[Station]")) << saved;
    EXPECT_NE(std::string::npos, saved.find("By=QC")) << saved;
    EXPECT_LT(saved.find("[Station]"), saved.find("[EEPROM DATA]")) << "sections keep their places";
    EXPECT_EQ(2u, folder.Files().size()) << "no copy left behind";
}

TEST(ServicePanel, ALoadOfADamagedFileSaysWhatWasWrongAndAFailedSaveLeavesTheFile)
{
    TempFolder folder;
    const std::string oneKey = folder.File("onekey.tqc");
    TempFolder::WriteTo(oneKey, "[EEPROM DATA]\r\nValue010=170\r\n");
    Image withBadValue = Pattern(1, 1);
    std::string badText = QcText(withBadValue);
    badText.replace(badText.find("Value002=3"), 10, "Value002=300");
    const std::string badValue = folder.File("badvalue.tqc");
    TempFolder::WriteTo(badValue, badText);
    // Every key, but under a section whose name only starts with ours.
    std::string otherSectionText = QcText(Pattern(1, 1));
    otherSectionText.replace(0, 13, "[EEPROM DATA 2]");
    const std::string otherSection = folder.File("othersection.tqc");
    TempFolder::WriteTo(otherSection, otherSectionText);
    const std::string held = folder.File("held.tqc");
    const std::string before = QcText(Pattern(9, 9));
    TempFolder::WriteTo(held, before);

    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        watcher.QueueFileAnswer(oneKey);
        Click(dlg, IDC_LOAD);
        // Loaded all the same, as the file reads.
        EXPECT_EQ(0xAA, dlg.m_eeprom.m_image[10]);
        EXPECT_EQ(0x00, dlg.m_eeprom.m_image[11]);
        EXPECT_EQ(0u, dlg.m_eeprom.m_image[0]);

        watcher.QueueFileAnswer(badValue);
        Click(dlg, IDC_LOAD);
        EXPECT_EQ(44, dlg.m_eeprom.m_image[2]) << "300 loads as its low 8 bits";

        watcher.QueueFileAnswer(otherSection);
        Click(dlg, IDC_LOAD);
        EXPECT_EQ(0u, dlg.m_eeprom.m_image[2]) << "no byte comes from another section";

        // Another program holds the file: nothing of it changes.
        const HANDLE hold = ::CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hold);
        watcher.QueueFileAnswer(held);
        Click(dlg, IDC_SAVE);
        ::CloseHandle(hold);
    });
    ASSERT_EQ(4u, run.boxes.size());
    EXPECT_NE(std::string::npos, run.boxes[0].text.find("keys Value000 to Value255 are missing"))
        << run.boxes[0].text;
    EXPECT_NE(std::string::npos, run.boxes[0].text.find(oneKey)) << run.boxes[0].text;
    EXPECT_NE(std::string::npos, run.boxes[1].text.find("not whole numbers from 0 to 255")) << run.boxes[1].text;
    EXPECT_EQ(0u, run.boxes[1].text.find("The file is not a complete QC data file")) << run.boxes[1].text;
    EXPECT_NE(std::string::npos, run.boxes[2].text.find("has no [EEPROM DATA] section")) << run.boxes[2].text;
    EXPECT_EQ(0u, run.boxes[3].text.find("The file was not saved")) << run.boxes[3].text;
    EXPECT_EQ(before, TempFolder::Read(held));
    EXPECT_EQ(4u, folder.Files().size()) << "no copy left behind";
}

TEST(ServicePanel, AutoBurnOnOffAndCancelled)
{
    TempFolder folder;
    const std::string good = folder.File("burn.tqc");
    const Image image = Pattern(0x20, 1);
    TempFolder::WriteTo(good, QcText(image));

    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        auto replug = [&]() {
            bus.Unplug("Tablet");
            ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice; }));
            EXPECT_TRUE(Enabled(dlg, IDOK));
            EXPECT_FALSE(Enabled(dlg, IDC_SET));
            EXPECT_EQ(0, dlg.m_lbDump.GetCount());
            bus.ClearTrace();
            bus.Plug("Tablet");
            ASSERT_TRUE(PumpUntil([&] { return dlg.m_lbDump.GetCount() == 16; }));
        };

        // Checked, then the file dialog cancelled: off again.
        watcher.QueueFileAnswer("");
        Click(dlg, IDC_AUTO_BURN);
        EXPECT_EQ(BST_UNCHECKED, ::IsDlgButtonChecked(dlg.m_hWnd, IDC_AUTO_BURN));
        EXPECT_EQ("", TextOf(dlg, IDC_AUTO_BURN_FILE));

        watcher.QueueFileAnswer(good);
        Click(dlg, IDC_AUTO_BURN);
        EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(dlg.m_hWnd, IDC_AUTO_BURN));
        EXPECT_EQ(good, TextOf(dlg, IDC_AUTO_BURN_FILE));

        replug();
        EXPECT_EQ("OK!", TextOf(dlg, IDC_RESULT));
        EXPECT_TRUE(bus.Eeprom("Tablet") == image);
        EXPECT_EQ(256u, CountOf(bus, "SetFeature"));
        EXPECT_FALSE(Enabled(dlg, IDOK));

        // Unchecked: the file is forgotten and the next tablet only read.
        Click(dlg, IDC_AUTO_BURN);
        EXPECT_EQ("", TextOf(dlg, IDC_AUTO_BURN_FILE));
        replug();
        EXPECT_EQ("", TextOf(dlg, IDC_RESULT));
        EXPECT_EQ(0u, CountOf(bus, "SetFeature"));

        // With the tablet gone, Get reads nothing and shows 0.
        bus.Unplug("Tablet");
        ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice; }));
        Type(dlg, IDC_ADDRESS, "3");
        Click(dlg, IDC_GET);
        EXPECT_EQ("0x00,  0    ", TextOf(dlg, IDC_DATA_READ));
    });
    EXPECT_EQ(2u, run.fileDialogs.size()) << "unchecking asks for no file";
    EXPECT_TRUE(run.boxes.empty());
}

TEST(ServicePanel, TheWriteDelayFollowsEachKeystrokeAndStaysWithinRange)
{
    struct Step {
        const char* typed; // null: a click on the check box
        int boxes;         // message boxes shown, each with `text`
        const char* text;
        DWORD delay;       // in force afterwards
    } steps[] = {
        {"5", 0, nullptr, 5},
        {"", 2, kNotAnInteger, 5},      // once for the update, once for the change
        {"0", 2, kOutOfRange, 5},
        {"21", 2, kOutOfRange, 5},
        {"20", 0, nullptr, 20},
        {nullptr, 0, nullptr, 0},        // unchecked: no pause at all
        {nullptr, 0, nullptr, 20},       // checked again: the field's value
    };
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        int number = 0;
        for (const Step& step : steps) {
            ++number;
            SCOPED_TRACE(testing::Message() << "step " << number);
            watcher.Clear();
            if (step.typed)
                Type(dlg, IDC_WRITE_DELAY_MS, step.typed);
            else
                Click(dlg, IDC_WRITE_DELAY);
            ASSERT_EQ(static_cast<size_t>(step.boxes), watcher.Boxes().size());
            for (const MessageBoxRecord& box : watcher.Boxes()) {
                EXPECT_EQ(step.text, box.text);
                EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), box.icon);
            }
            EXPECT_EQ(step.delay, dlg.m_eeprom.m_nWriteDelay);
        }
    });
}

// The panel's controls that take input, and which of them are enabled.
const int kPanelInputs[] = {IDOK,     IDC_GET,       IDC_SET,          IDC_ADDRESS,   IDC_SET_VALUE,
                            IDC_GET_ALL, IDC_DUMP_LIST, IDC_SAVE,      IDC_LOAD,      IDC_SET_ALL,
                            IDC_AUTO_BURN, IDC_WRITE_DELAY, IDC_WRITE_DELAY_MS};

std::vector<int> EnabledInputs(CUpdateDlg& dlg)
{
    std::vector<int> enabled;
    for (int id : kPanelInputs) {
        if (Enabled(dlg, id))
            enabled.push_back(id);
    }
    return enabled;
}

// "Set All" and the burn on arrival block the station for seconds: the panel
// shows what is happening while they run, and nothing once they are done.
// Nothing the operator or another program does meanwhile acts on the panel:
// its controls are disabled, a click sent to one anyway is dropped, and keys
// typed into a field are dropped too, while the input of other windows of
// the thread waits for them.
TEST(ServicePanel, TheLongCommandsShowTheirProgressInThePanelAndTakeNoInput)
{
    TempFolder folder;
    const std::string good = folder.File("burn.tqc");
    TempFolder::WriteTo(good, QcText(Pattern(0x40, 1)));

    struct Seen {
        bool barVisible = false;
        int position = -1;
        std::string line;
        std::vector<int> enabled;
    };
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        const HWND bar = ::FindWindowExA(dlg.m_hWnd, nullptr, "msctls_progress32", nullptr);
        ASSERT_NE(nullptr, bar);
        // Another window of the thread, as a file dialog whose loop hosts an
        // arrival would be.
        const HWND other = ::CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 80, 20, nullptr, nullptr,
                                             ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, other);
        const std::vector<int> before = EnabledInputs(dlg);
        ASSERT_EQ(std::vector<int>(std::begin(kPanelInputs) + 1, std::end(kPanelInputs)), before)
            << "a tablet is open: all but Exit";

        std::vector<Seen> seen; // at the 128th write of each command
        unsigned writes = 0;
        std::thread clicker;
        bus.SetTraceObserver([&](const SimTraceEntry& entry) {
            if (entry.call != "SetFeature" || ++writes % 256 != 128)
                return;
            Seen now;
            now.barVisible = ::IsWindowVisible(bar) != FALSE;
            now.position = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
            const HWND line = ::GetWindow(bar, GW_HWNDPREV);
            now.line = AfxGetWindowText(line);
            now.enabled = EnabledInputs(dlg);
            seen.push_back(now);
            if (writes == 128) {
                // Halfway through Set All, a key typed into the delay field
                // and one into the other window. The field would read "010",
                // still a valid delay: a refused one would bring up boxes.
                ::PostMessageA(dlg.GetDlgItem(IDC_WRITE_DELAY_MS), WM_CHAR, '0', 1);
                ::PostMessageA(other, WM_CHAR, 'x', 1);
                return;
            }
            // Halfway through the burn, a click on Set All from another
            // thread: a disabled button takes it all the same. It waits for
            // the burn's next look at the queue, made sure of by letting
            // that much real time pass.
            if (writes != 256 + 128)
                return;
            const HWND setAll = dlg.GetDlgItem(IDC_SET_ALL);
            clicker = std::thread([setAll] { ::SendMessageA(setAll, BM_CLICK, 0, 0); });
            for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 2000;) {
                if (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) != 0)
                    break;
                ::Sleep(1);
            }
            ::Sleep(2 * CUpdateProgress::kAnswerEveryMs);
        });

        Click(dlg, IDC_SET_ALL);
        EXPECT_FALSE(::IsWindowVisible(bar)) << "hidden once Set All is done";
        EXPECT_EQ(before, EnabledInputs(dlg)) << "as they were before Set All";
        PumpUntil([] { return HIWORD(::GetQueueStatus(QS_POSTMESSAGE)) == 0; }, 1000);
        EXPECT_EQ("10", TextOf(dlg, IDC_WRITE_DELAY_MS)) << "the key typed during Set All was dropped";
        EXPECT_EQ("x", AfxGetWindowText(other)) << "the other window's key was kept";
        ::DestroyWindow(other);

        watcher.QueueFileAnswer(good);
        Click(dlg, IDC_AUTO_BURN);
        bus.Unplug("Tablet");
        ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice; }));
        bus.Plug("Tablet");
        ASSERT_TRUE(PumpUntil([&] { return TextOf(dlg, IDC_RESULT) == "OK!"; }));
        EXPECT_FALSE(::IsWindowVisible(bar)) << "hidden once the burn is done";
        EXPECT_EQ(before, EnabledInputs(dlg)) << "Exit and Set follow the tablet that arrived";
        if (clicker.joinable())
            clicker.join();
        HandlePendingMessages(bus);
        bus.SetTraceObserver({});
        EXPECT_EQ(512u, writes) << "Set All and the burn, and no Set All inside the burn";

        ASSERT_EQ(2u, seen.size());
        for (const Seen& command : seen) {
            EXPECT_TRUE(command.barVisible);
            EXPECT_GT(command.position, 0) << "the bar moves while the tablet is written";
            EXPECT_NE(std::string::npos, command.line.find("Do not unplug")) << command.line;
            EXPECT_TRUE(command.enabled.empty()) << command.enabled.size() << " controls enabled, the first "
                                                 << command.enabled.front();
        }
    });
}
