// The service station with real windows over the simulated tablet: the
// operator's clicks and keystrokes sent to the controls, message boxes and
// file dialogs answered from hooks, files real.

#include "DialogRun.h"
#include "PanelText.h"
#include "QcDataFile.h"
#include "TempFolder.h"
#include "UpdateDlg.h"
#include "Win32FileDialogSystem.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// A control as the layout checks see it: where it is in the dialog's client
// area, and a name for the failure messages.
struct Placed {
    HWND hWnd;
    RECT rect;
    std::string name;
};

std::vector<Placed> VisibleControls(CUpdateDlg& dlg)
{
    std::vector<Placed> controls;
    for (HWND child = ::GetWindow(dlg.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!::IsWindowVisible(child))
            continue;
        Placed placed{child, {}, {}};
        ::GetWindowRect(child, &placed.rect);
        ::MapWindowPoints(nullptr, dlg.m_hWnd, reinterpret_cast<POINT*>(&placed.rect), 2);
        char className[32] = {};
        ::GetClassNameA(child, className, sizeof(className));
        placed.name = std::string(className) + " " + std::to_string(::GetDlgCtrlID(child)) + " \"" +
                      AfxGetWindowText(child) + "\"";
        controls.push_back(placed);
    }
    return controls;
}

// The text's extent in the control's own font, and that font's metrics.
SIZE TextExtent(HWND control, const std::string& text, TEXTMETRICA* metrics = nullptr)
{
    const HDC dc = ::GetDC(control);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (metrics != nullptr)
        ::GetTextMetricsA(dc, metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return size;
}

// The station's layout checks at the DPI it is laid out for: every control
// inside the frame and clear of the others, whole captions, the dump's
// columns aligned and its 16 rows visible.
void ExpectCleanLayout(CUpdateDlg& dlg, UINT dpi)
{
    const std::vector<Placed> controls = VisibleControls(dlg);
    EXPECT_EQ(23u, controls.size()) << "the template's 21, the progress line and the tally";
    RECT client;
    dlg.GetClientRect(&client);
    for (size_t i = 0; i < controls.size(); ++i) {
        const Placed& a = controls[i];
        SCOPED_TRACE(a.name);
        EXPECT_TRUE(a.rect.left >= 0 && a.rect.top >= 0 && a.rect.right <= client.right &&
                    a.rect.bottom <= client.bottom)
            << "inside the frame";
        for (size_t j = i + 1; j < controls.size(); ++j) {
            RECT overlap;
            EXPECT_FALSE(::IntersectRect(&overlap, &a.rect, &controls[j].rect)) << "overlaps " << controls[j].name;
        }

        // A caption fits beside a check box's box, or inside a push
        // button's edges, both as large as the DPI makes them.
        char className[16] = {};
        ::GetClassNameA(a.hWnd, className, sizeof(className));
        const std::string caption = AfxGetWindowText(a.hWnd);
        if (::lstrcmpiA(className, "Button") != 0 || caption.empty())
            continue;
        const LONG_PTR type = ::GetWindowLongPtrA(a.hWnd, GWL_STYLE) & BS_TYPEMASK;
        const bool checkBox = type == BS_AUTOCHECKBOX || type == BS_CHECKBOX;
        const int room = (a.rect.right - a.rect.left) -
                         (checkBox ? CWindowDpi::SystemMetric(SM_CXMENUCHECK, dpi) + 2
                                   : 4 * CWindowDpi::SystemMetric(SM_CXEDGE, dpi));
        EXPECT_LE(TextExtent(a.hWnd, caption).cx, room) << "the caption is cut";
    }

    // Bit clear means fixed pitch (the flag's name says the opposite).
    const HWND dump = dlg.GetDlgItem(IDC_DUMP_LIST);
    TEXTMETRICA metrics{};
    const SIZE narrow = TextExtent(dump, "iiii11..", &metrics);
    EXPECT_EQ(0, metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) << "a fixed-pitch font";
    EXPECT_EQ(narrow.cx, TextExtent(dump, "WWWW00MM").cx) << "every character as wide";
    RECT list;
    ::GetClientRect(dump, &list);
    const std::vector<std::string> lines = DumpLines(dlg);
    ASSERT_EQ(16u, lines.size());
    for (const std::string& line : lines)
        EXPECT_LE(TextExtent(dump, line).cx, list.right) << line;
    EXPECT_GE(list.bottom, 16 * static_cast<int>(::SendMessageA(dump, LB_GETITEMHEIGHT, 0, 0)))
        << "all 16 rows without scrolling";
}

int FontHeight(HWND control)
{
    TEXTMETRICA metrics{};
    TextExtent(control, "A", &metrics);
    return metrics.tmHeight;
}

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// "8.0" and the like; empty on Windows.
std::string WineVersion()
{
    using Version = const char*(__cdecl*)();
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto version = ntdll == nullptr ? nullptr
                                          : reinterpret_cast<Version>(reinterpret_cast<void*>(
                                                ::GetProcAddress(ntdll, "wine_get_version")));
    return version != nullptr ? version() : "";
}

// Set in a child process of the layout test: the DPI its parent set for it.
UINT DpiSetByParent()
{
    char value[16] = {};
    if (::GetEnvironmentVariableA("TABLETUPDATE_TEST_DPI", value, sizeof(value)) == 0)
        return 0;
    return static_cast<UINT>(std::strtoul(value, nullptr, 10));
}

// Wine takes its one DPI for every monitor from LogPixels, read when a
// process starts (HKCU's value before HKLM's); a process already running
// keeps the DPI it started with. So a DPI is tried in a child process
// started while the value is set, and the value put back as it was. Only
// the suite's own prefix (dialog_dpi_tests) may be changed: the others share
// theirs, and a process of theirs starting meanwhile would take the DPI.
// Windows reads LogPixels only when the user logs on; there nothing is set.
class LogPixelsOverride {
public:
    explicit LogPixelsOverride(DWORD dpi)
    {
        DWORD size = sizeof(m_previous);
        m_hadValue = ::RegGetValueA(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_REG_DWORD, nullptr, &m_previous,
                                    &size) == ERROR_SUCCESS;
        m_set = ::RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &dpi, sizeof(dpi)) == ERROR_SUCCESS;
    }
    ~LogPixelsOverride()
    {
        if (m_hadValue)
            ::RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &m_previous, sizeof(m_previous));
        else
            ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, kValue);
    }
    LogPixelsOverride(const LogPixelsOverride&) = delete;
    LogPixelsOverride& operator=(const LogPixelsOverride&) = delete;
    bool IsSet() const { return m_set; }

private:
    static constexpr const char* kKey = "Control Panel\\Desktop";
    static constexpr const char* kValue = "LogPixels";
    DWORD m_previous = 0;
    bool m_hadValue = false;
    bool m_set = false;
};

// Runs this test again in a child process; its exit code (-1 when it could
// not run) and its output, which is shown only when it failed, so that the
// suite's counts are this process's.
int RunLayoutTestAt(UINT dpi, std::string& output)
{
    char exe[MAX_PATH] = {};
    if (::GetModuleFileNameA(nullptr, exe, MAX_PATH) == 0)
        return -1;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string command = std::string("\"") + exe + "\" --gtest_color=no --gtest_filter=" +
                          test->test_suite_name() + "." + test->name();
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return -1;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    ::SetEnvironmentVariableA("TABLETUPDATE_TEST_DPI", std::to_string(dpi).c_str());
    const BOOL started =
        ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::SetEnvironmentVariableA("TABLETUPDATE_TEST_DPI", nullptr);
    // Only the child holds the write end now: the reads end when it does.
    ::CloseHandle(writeEnd);
    DWORD code = static_cast<DWORD>(-1);
    if (started) {
        char chunk[4096];
        DWORD got = 0;
        while (::ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0)
            output.append(chunk, got);
        if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process.hProcess, &code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(readEnd);
    return static_cast<int>(code);
}

// "Burned and verified: 1   Failed: 0   Last: OK! at 14:03:07", the time any.
void ExpectTally(CUpdateDlg& dlg, const std::string& counts, const std::string& last)
{
    const std::string tally = TextOf(dlg, IDC_TALLY);
    if (last.empty()) {
        EXPECT_EQ(counts, tally);
        return;
    }
    const std::string head = counts + "   Last: " + last + " at ";
    ASSERT_EQ(head.size() + 8, tally.size()) << tally;
    EXPECT_EQ(head, tally.substr(0, head.size()));
    const std::string time = tally.substr(head.size());
    for (size_t i = 0; i < time.size(); ++i) {
        const bool colon = i == 2 || i == 5;
        EXPECT_TRUE(colon ? time[i] == ':' : (time[i] >= '0' && time[i] <= '9')) << tally;
    }
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
        unsigned failReadAt; // the tablet's Nth Get Feature fails; the arrival makes 256
    } rows[] = {
        {"a chosen list entry", IDC_GET, "  5 : 0x05", "", "0xAA,  170    ", "len=13", nullptr, false, 0},
        {"a typed address beyond the list", IDC_GET, "200", "", "0x11,  17    ", "len=208", nullptr, false, 0},
        {"an empty box reads address 0", IDC_GET, "", "", "0x55,  85    ", "len=8", nullptr, false, 0},
        {"address 255", IDC_GET, "255", "", "0xFF,  255    ", "len=263", nullptr, false, 0},
        {"address 256 is refused", IDC_GET, "256", "", kReadRefused, nullptr, nullptr, false, 0},
        {"a negative address is refused", IDC_GET, "-1", "", kReadRefused, nullptr, nullptr, false, 0},
        {"a number too large for the box is refused", IDC_GET, "99999999999", "", kReadRefused, nullptr,
         nullptr, false, 0},
        {"Set writes, reads back and enables Exit", IDC_SET, "7", " 66 : 0x42", "0x42,  66    OK", "len=15",
         "04 0F 42 4D 00 00 00 00", true, 0},
        {"Set of 256 writes 0x00 and is an error", IDC_SET, "7", "256", "0x00,  0    Error", "len=15",
         "04 0F 00 0F 00 00 00 00", true, 0},
        {"Set of a byte that does not stick", IDC_SET, "17", "1", "0xFF,  255    Error", "len=25",
         "04 19 01 18 00 00 00 00", true, 0},
        // A failed read-back leaves the report id, 4, where the byte would be:
        // never a match, even for the value 4.
        {"Set of 4 whose read-back fails", IDC_SET, "7", "4", "0x04,  4    Error", "len=15",
         "04 0F 04 0B 00 00 00 00", true, 256 + 1},
        {"Set to address 300 is refused and switches nothing", IDC_SET, "300", "66", kWriteRefused, nullptr,
         nullptr, false, 0},
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
        tablet.failReadAt = row.failReadAt;
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

// What "Save" tells the operator after each way a save can fail: the
// message names every file it speaks of, and says the file is unchanged only
// when it is.
TEST(ServicePanel, TheSaveFailureMessageSaysWhereTheImageIs)
{
    using Outcome = QcDataFile::SaveResult::Outcome;
    const std::string chosen = "C:\\QC\\line 3.tqc";
    const std::string image = "C:\\QC\\tqc1A2B.tmp";
    const std::string old = "C:\\QC\\tqc1A2C.tmp";
    struct Row {
        int row;
        Outcome outcome;
        DWORD error;
        std::string previousFile;
        std::vector<std::string> says;
        bool unchanged;
    };
    const Row rows[] = {
        {1, Outcome::Unchanged, 0, "", {chosen, "open in another program"}, true},
        {2, Outcome::ReadOnly, 0, "", {chosen, "read-only"}, true},
        {3, Outcome::ImageElsewhere, 0, old, {chosen, image, old}, false},
        {4, Outcome::ImageElsewhere, 0, "", {chosen, image, "is gone"}, false},
        {5, Outcome::Link, 0, "", {chosen, "a link to another file"}, true},
        {6, Outcome::FolderRefused, ERROR_WRITE_PROTECT, "", {chosen, "write-protected"}, true},
        {7, Outcome::FolderRefused, ERROR_ACCESS_DENIED, "", {chosen, "may not create files in that folder"}, true},
        {8, Outcome::FolderRefused, ERROR_PATH_NOT_FOUND, "", {chosen, "is the folder missing?"}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row);
        QcDataFile::SaveResult result;
        result.outcome = r.outcome;
        result.error = r.error;
        if (r.outcome == Outcome::ImageElsewhere)
            result.imageFile = image;
        result.previousFile = r.previousFile;
        const std::string text = PanelText::SaveFailed(result, chosen);
        EXPECT_EQ(0u, text.find("The file was not saved:\n" + chosen + "\n")) << text;
        for (const std::string& part : r.says)
            EXPECT_NE(std::string::npos, text.find(part)) << part << " in:\n" << text;
        EXPECT_EQ(r.unchanged, text.find("unchanged") != std::string::npos ||
                                   text.find("Nothing was changed") != std::string::npos)
            << text;
    }
}

TEST(ServicePanel, AutoBurnOnOffAndCancelled)
{
    TempFolder folder;
    const std::string good = folder.File("burn.tqc");
    const Image image = Pattern(0x20, 1);
    TempFolder::WriteTo(good, QcText(image));
    // Master files are often kept read-only: one can be chosen and burned.
    ASSERT_TRUE(::SetFileAttributesA(good.c_str(), FILE_ATTRIBUTE_READONLY));

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

namespace {

// Who a posted command names as its sender: nobody, its own control (as it
// is, hidden, disabled, or shown and enabled first), or another control.
// UnderABox: the dialog disabled, as while a box or file dialog of ours is up.
enum class Sender { None, Itself, Hidden, Disabled, Shown, Other, NoneUnderABox, ItselfUnderABox };

// Posts the dialog a command as any program can; true if it ends the dialog.
bool PostCommand(SimHidSystem& bus, CUpdateDlg& dlg, int id, Sender sender)
{
    if (sender == Sender::NoneUnderABox || sender == Sender::ItselfUnderABox) {
        ::EnableWindow(dlg.m_hWnd, FALSE);
        const bool ended = PostCommand(bus, dlg, id, sender == Sender::NoneUnderABox ? Sender::None : Sender::Itself);
        ::EnableWindow(dlg.m_hWnd, TRUE);
        return ended;
    }
    const HWND control = dlg.GetDlgItem(id);
    if (sender == Sender::Hidden || sender == Sender::Shown)
        ::ShowWindow(control, sender == Sender::Shown ? SW_SHOWNA : SW_HIDE);
    if (sender == Sender::Disabled || sender == Sender::Shown)
        ::EnableWindow(control, sender == Sender::Shown);
    const HWND from = sender == Sender::None ? nullptr : sender == Sender::Other ? dlg.GetDlgItem(IDC_DUMP_LIST) : control;
    bus.ClearTrace();
    ::PostMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(from));
    HandlePendingMessages(bus);
    return dlg.IsEnding();
}

} // namespace

// Commands count only from the controls the user can use: at the station
// those enabled and shown (Exit stays disabled until Set), and the ways out,
// which the dialog manager sends with no sender; in the one-shot update none
// of the panel's, whatever state they are in.
TEST(ServicePanel, CommandsCountOnlyFromControlsTheUserCanUse)
{
    const struct {
        const char* what;
        bool station;
        int id;
        Sender sender;
        const char* did;
    } rows[] = {
        {"Load with no sender", true, IDC_LOAD, Sender::None, "nothing"},
        {"Load from Load", true, IDC_LOAD, Sender::Itself, "file dialog"},
        {"Save from Save, hidden", true, IDC_SAVE, Sender::Hidden, "nothing"},
        {"Set All from Set All, disabled", true, IDC_SET_ALL, Sender::Disabled, "nothing"},
        {"Set All from another control", true, IDC_SET_ALL, Sender::Other, "nothing"},
        {"Exit, still disabled", true, IDOK, Sender::Itself, "nothing"},
        {"Escape", true, IDCANCEL, Sender::None, "ended"},
        {"Load from Load while a box of ours is up", true, IDC_LOAD, Sender::ItselfUnderABox, "nothing"},
        {"Enter with no sender while a box of ours is up", true, IDOK, Sender::NoneUnderABox, "nothing"},
        {"the close request while a box of ours is up", true, IDCANCEL, Sender::NoneUnderABox, "ended"},
        {"the one-shot update: Load with no sender", false, IDC_LOAD, Sender::None, "nothing"},
        {"the one-shot update: Set All from Set All", false, IDC_SET_ALL, Sender::Itself, "nothing"},
        {"the one-shot update: Load from Load, shown", false, IDC_LOAD, Sender::Shown, "nothing"},
    };
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        bool ended = false;
        const DialogRun run =
            row.station ? RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher&) {
                ended = PostCommand(bus, dlg, row.id, row.sender);
            })
                        : RunUpdateDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, const MessageBoxRecord&) {
                              ended = PostCommand(bus, dlg, row.id, row.sender);
                          });
        const bool written = CountOf(sim, "SetFeature") != 0;
        EXPECT_EQ(row.did, std::string(!run.fileDialogs.empty() ? "file dialog" : written ? "written" : ended ? "ended" : "nothing"));
    }
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
        {nullptr, 0, nullptr, 0},
        {"25", 2, kOutOfRange, 0},       // refused while unchecked
        // Checked over a refused entry: the last accepted delay. The field
        // loses the focus to the click first, and says so too.
        {nullptr, 2, kOutOfRange, 20},
        {"99999999999", 2, kOutOfRange, 20}, // an integer too large for an int is out of range too
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

// A tap with the pen or a finger, as Windows 8 and later post it: the pointer
// messages, then WM_TOUCH (to a window registered for it) and WM_GESTURE.
const UINT kTap[] = {0x0249 /* WM_POINTERENTER */, 0x0246 /* WM_POINTERDOWN */, 0x0247 /* WM_POINTERUP */,
                     0x024A /* WM_POINTERLEAVE */, 0x0240 /* WM_TOUCH */, 0x0119 /* WM_GESTURE */};

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

        std::vector<Seen> seen; // at the 129th write of each command
        unsigned writes = 0;
        std::thread clicker;
        bus.SetTraceObserver([&](const SimTraceEntry& entry) {
            if (entry.call != "SetFeature")
                return;
            ++writes;
            // The bar moves when the burst looks at its queue: the 128th
            // write waits long enough for that, as at a slower tablet's pace.
            if (writes % 256 == 128)
                ::Sleep(2 * CUpdateProgress::kAnswerEveryMs);
            if (writes % 256 != 129)
                return;
            Seen now;
            now.barVisible = ::IsWindowVisible(bar) != FALSE;
            now.position = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
            const HWND line = ::GetWindow(bar, GW_HWNDPREV);
            now.line = AfxGetWindowText(line);
            now.enabled = EnabledInputs(dlg);
            seen.push_back(now);
            if (writes == 129) {
                // Halfway through Set All, a key typed into the delay field
                // and one into the other window. The field would read "010",
                // still a valid delay: a refused one would bring up boxes.
                ::PostMessageA(dlg.GetDlgItem(IDC_WRITE_DELAY_MS), WM_CHAR, '0', 1);
                ::PostMessageA(other, WM_CHAR, 'x', 1);
                // And a tap on Load as Windows 8 and later post it.
                for (const UINT tap : kTap)
                    ::PostMessageA(dlg.GetDlgItem(IDC_LOAD), tap, 0, 0);
                // And the thread asked to quit, which is not the burst's.
                ::PostQuitMessage(7);
                return;
            }
            // Halfway through the burn, a click on Set All from another
            // thread: a disabled button takes it all the same. It waits for
            // the burn's next look at the queue, made sure of by letting
            // that much real time pass.
            if (writes != 256 + 129)
                return;
            const HWND setAll = dlg.GetDlgItem(IDC_SET_ALL);
            clicker = std::thread([setAll] { ::SendMessageA(setAll, BM_CLICK, 0, 0); });
            LetTheBurstAnswer();
        });

        Click(dlg, IDC_SET_ALL);
        MSG quit{};
        EXPECT_TRUE(::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && quit.wParam == 7)
            << "the quit request kept for its loop";
        // Windows makes mouse input of pen and touch left to DefWindowProc;
        // Wine does not, so here the tap is seen dropped from the queue.
        MSG left{};
        for (const UINT tap : kTap)
            EXPECT_FALSE(::PeekMessageA(&left, nullptr, tap, tap, PM_NOREMOVE)) << "0x" << std::hex << tap;
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
        EXPECT_EQ(512u, writes) << "Set All and the burn, and no Set All inside the burn";

        // Unplugged and plugged back while the station was busy: the removal
        // and the arrival both heard before either is handled. The tablet
        // is burned once, through the arrival, with its progress.
        bus.Unplug("Tablet");
        bus.Plug("Tablet");
        for (const DWORD start = ::GetTickCount();
             bus.PendingReportCount() != 0 && ::GetTickCount() - start < 5000;) {
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
        }
        ASSERT_TRUE(PumpUntil([&] { return writes == 3 * 256u && TextOf(dlg, IDC_RESULT) == "OK!"; }));
        HandlePendingMessages(bus);
        EXPECT_EQ(3 * 256u, writes) << "burned once";
        bus.SetTraceObserver({});

        ASSERT_EQ(3u, seen.size());
        for (const Seen& command : seen) {
            EXPECT_TRUE(command.barVisible);
            EXPECT_GT(command.position, 0) << "the bar moves while the tablet is written";
            EXPECT_NE(std::string::npos, command.line.find("Do not unplug")) << command.line;
            EXPECT_TRUE(command.enabled.empty()) << command.enabled.size() << " controls enabled, the first "
                                                 << command.enabled.front();
        }
    });
}

// The dialog only posts itself its own messages; another program can send
// them, and a send is delivered at the burst's next look at the queue. Sent
// halfway through Set All, none acts: all 256 writes are made, the tablet
// stays open, and no box comes up during the burst.
TEST(ServicePanel, ItsOwnMessagesSentByAnotherProgramAreNotActedOn)
{
    for (const UINT message : {WM_TABLET_ARRIVED, WM_TABLET_REMOVED, WM_SESSION_ENDED, WM_RECORD_TROUBLE}) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << message);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        unsigned writes = 0;
        bool boxDuringBurst = false;
        bool open = false;
        RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
            const HWND dialog = dlg.m_hWnd;
            watcher.SetOnShow([&](const MessageBoxRecord&) { boxDuringBurst |= writes % 256 != 0; });
            std::thread sender;
            bus.SetTraceObserver([&](const SimTraceEntry& entry) {
                if (entry.call != "SetFeature" || ++writes != 128)
                    return;
                sender = std::thread([dialog, message] { ::SendMessageA(dialog, message, 0, 0); });
                LetTheBurstAnswer();
            });
            Click(dlg, IDC_SET_ALL);
            bus.SetTraceObserver({});
            if (sender.joinable())
                sender.join();
            HandlePendingMessages(bus);
            open = dlg.m_eeprom.m_pDevice != nullptr && !dlg.IsEnding();
            watcher.SetOnShow({});
        });
        EXPECT_EQ(256u, writes);
        EXPECT_FALSE(boxDuringBurst);
        EXPECT_TRUE(open);
    }
}

// Set All after the tablet was unplugged has nothing to write to: it says so
// at once, instead of "Writing the tablet" over seconds of pauses that send
// nothing.
TEST(ServicePanel, SetAllWithNoTabletSaysSo)
{
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher&) {
        bus.Unplug("Tablet");
        ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice; }));
        bus.ClearTrace();
        Click(dlg, IDC_SET_ALL);
        EXPECT_TRUE(bus.Trace().empty()) << "nothing sent";
    });
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("No tablet is plugged in, so nothing was written.\n\n"
              "Plug in the tablet and try again once its bytes are shown.",
              run.boxes[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), run.boxes[0].icon);
}

// The station as the operator sees it: the controls side by side, none on top
// of another, every caption whole, and the dump in a fixed-pitch font whose
// lines fit the list.
// At the display's DPI in this process, and again after Windows says the
// window moved to a monitor of half as much again (96 to 144 on a 100 %
// display). Wine 8.0 has one DPI for every monitor and never sends
// WM_DPICHANGED, so the test sends it, with a suggested rectangle scaled as
// Windows scales it; the controls then draw at Wine's own DPI, which only
// makes the system measures (box, scroll bar) smaller than laid out for.
// Then the DPIs of 100 % to 200 % displays, each in a process of its own
// (see LogPixelsOverride): under Wine in the suite's own prefix only.
TEST(ServicePanel, TheStationIsLaidOutCleanly)
{
    const UINT setByParent = DpiSetByParent();
    UINT started = 0;
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher&) {
        started = CWindowDpi::ForWindow(dlg.m_hWnd);
        if (setByParent != 0) {
            ASSERT_EQ(setByParent, started) << "the DPI set for this process";
        }
        {
            SCOPED_TRACE(testing::Message() << "at " << started << " DPI, as started");
            ExpectCleanLayout(dlg, started);
        }

        // Tab follows the rows: each stop right of the one before it, or below it.
        const HWND first = ::GetNextDlgTabItem(dlg.m_hWnd, nullptr, FALSE);
        RECT previous{};
        HWND stop = first;
        int stops = 0;
        do {
            RECT rect;
            ::GetWindowRect(stop, &rect);
            if (stops++ > 0) {
                const bool sameRow = rect.top < previous.bottom && rect.bottom > previous.top;
                EXPECT_TRUE(sameRow ? rect.left >= previous.right : rect.top >= previous.bottom)
                    << "tab stop " << stops << ": control " << ::GetDlgCtrlID(stop);
            }
            previous = rect;
            stop = ::GetNextDlgTabItem(dlg.m_hWnd, stop, FALSE);
        } while (stop != nullptr && stop != first && stops < 40);
        EXPECT_GE(stops, 12);

        ExpectTally(dlg, "Burned and verified: 0   Failed: 0", "");
        if (setByParent != 0)
            return;

        const UINT moved = started * 3 / 2;
        SCOPED_TRACE(testing::Message() << "moved from " << started << " to " << moved << " DPI");
        const HWND getAll = dlg.GetDlgItem(IDC_GET_ALL);
        const HWND dump = dlg.GetDlgItem(IDC_DUMP_LIST);
        const int buttonFont = FontHeight(getAll);
        const int dumpFont = FontHeight(dump);
        RECT before;
        ::GetWindowRect(dlg.m_hWnd, &before);
        RECT suggested = {before.left + 10, before.top + 10,
                          before.left + 10 + ::MulDiv(before.right - before.left, moved, started),
                          before.top + 10 + ::MulDiv(before.bottom - before.top, moved, started)};
        EXPECT_EQ(0, ::SendMessageA(dlg.m_hWnd, WM_DPICHANGED, MAKEWPARAM(moved, moved),
                                    reinterpret_cast<LPARAM>(&suggested)));
        RECT after;
        ::GetWindowRect(dlg.m_hWnd, &after);
        EXPECT_EQ(suggested.left, after.left) << "at the suggested rectangle";
        EXPECT_EQ(suggested.top, after.top) << "at the suggested rectangle";
        // Half as large again, give or take the rounding of a font's height.
        for (const auto& font : {std::make_pair(buttonFont, FontHeight(getAll)),
                                 std::make_pair(dumpFont, FontHeight(dump))}) {
            EXPECT_GE(font.second * 10, font.first * 13) << font.first << " -> " << font.second;
            EXPECT_LE(font.second * 10, font.first * 17) << font.first << " -> " << font.second;
        }
        ExpectCleanLayout(dlg, moved);
    });
    if (setByParent != 0)
        return;

    const bool ownPrefix = UnderWine() && ::GetEnvironmentVariableA("TABLETUPDATE_DPI_PREFIX", nullptr, 0) != 0;
    for (const UINT dpi : {96u, 120u, 144u, 192u}) {
        SCOPED_TRACE(testing::Message() << "at " << dpi << " DPI, in a process of its own");
        if (dpi == started)
            continue; // laid out above
        if (!ownPrefix) {
            std::printf("note: the station at %u DPI is tried in dialog_dpi_tests, under Wine\n", dpi);
            continue;
        }
        const LogPixelsOverride logPixels(dpi);
        ASSERT_TRUE(logPixels.IsSet());
        std::string output;
        EXPECT_EQ(0, RunLayoutTestAt(dpi, output)) << output;
    }
}

namespace {

// A monitor at 150 % where the session started at 100 %, which Wine (one DPI
// for every monitor) cannot show.
class SecondMonitor : public WindowDpiSystem {
public:
    UINT ForWindow(HWND) override { return 144; }
    UINT ForSystem() override { return 96; }
};

// How many fonts the controls hold; the bar draws no text, and the station's
// dump has a face of its own.
size_t FontsHeld(CUpdateDlg& dlg)
{
    std::set<LRESULT> fonts;
    const HWND bar = ::FindWindowExA(dlg.m_hWnd, nullptr, PROGRESS_CLASSA, nullptr);
    for (HWND child = ::GetWindow(dlg.m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (child != bar && (!dlg.m_bServiceMode || child != dlg.GetDlgItem(IDC_DUMP_LIST)))
            fonts.insert(::SendMessageA(child, WM_GETFONT, 0, 0));
    }
    return fonts.size();
}

// Counts the controls given a font while the one they held was deleted.
unsigned g_deletedFontsHeld = 0;

LRESULT CALLBACK WatchFonts(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_SETFONT) {
        const LRESULT held = ::SendMessageA(call->hwnd, WM_GETFONT, 0, 0);
        g_deletedFontsHeld += held != 0 && ::GetObjectType(reinterpret_cast<HGDIOBJ>(held)) == 0 ? 1 : 0;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

// The dialog procedure keeps answering WM_GETFONT with the template's font,
// whatever font the dialog gave its controls: what the dialog makes after
// start (the progress line, the tally) is given its own. Started on a monitor
// whose scale is not the session's, then moved twice, every control has the
// one font, and none is left holding a deleted one. (Wine 8.0 makes the
// template's System a TrueType face, already made at the window's DPI: no
// font of the dialog's own is made at start there. Where System is the
// raster face, as on Windows and Wine 10.0, one is.)
TEST(ServicePanel, EveryControlHasTheDialogsFontFromTheStart)
{
    std::vector<bool> madeAtStart;
    for (const bool station : {false, true}) {
        SCOPED_TRACE(station ? "the service station" : "the one-shot update");
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        SecondMonitor monitor;
        std::vector<size_t> fonts; // at start, after the moves
        g_deletedFontsHeld = 0;
        const auto look = [&](CUpdateDlg& dlg) {
            // The template's font is what the dialog keeps answering; a
            // control holding another was given one the dialog made.
            madeAtStart.push_back(::SendMessageA(dlg.GetDlgItem(IDOK), WM_GETFONT, 0, 0) !=
                                  ::SendMessageA(dlg.m_hWnd, WM_GETFONT, 0, 0));
            fonts.push_back(FontsHeld(dlg));
            const HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchFonts, nullptr, ::GetCurrentThreadId());
            for (const UINT dpi : {192u, 120u}) {
                RECT suggested;
                ::GetWindowRect(dlg.m_hWnd, &suggested);
                ::SendMessageA(dlg.m_hWnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
            }
            ::UnhookWindowsHookEx(hook);
            fonts.push_back(FontsHeld(dlg));
        };
        if (station)
            RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher&) { look(dlg); }, &monitor);
        else
            RunUpdateDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, const MessageBoxRecord&) { look(dlg); }, false,
                            &monitor);
        EXPECT_EQ((std::vector<size_t>{1, 1}), fonts);
        EXPECT_EQ(0u, g_deletedFontsHeld);
    }
    if (madeAtStart == std::vector<bool>{false, false} && WineVersion().compare(0, 2, "8.") == 0)
        GTEST_SKIP() << "Wine " << WineVersion() << " makes the template's System a TrueType face at the window's "
                     << "DPI, so no font is made at start and the start is not tried here";
    EXPECT_EQ((std::vector<bool>{true, true}), madeAtStart) << "a font made at start, in both modes";
}

// The tally counts the burns since the station opened, each with its verdict;
// an unplug clears the result line but not the tally, and arrivals that burn
// nothing (only a mouse, auto-burn off) are not counted.
TEST(ServicePanel, TheTallyAndTheSoundsFollowEachBurnSinceTheStationOpened)
{
    TempFolder folder;
    const std::string good = folder.File("burn.tqc");
    TempFolder::WriteTo(good, QcText(Pattern(0x30, 1)));

    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    SimDeviceConfig stuck;
    stuck.name = "Stuck";
    stuck.stuckAddress = 40;
    sim.AddDevice(stuck);
    sim.AddDevice(SimDeviceConfig::Mouse());
    sim.Unplug("Stuck");
    sim.Unplug("Mouse");
    sim.PumpMessages();

    const std::vector<UINT> none;
    const std::vector<UINT> ok{MB_ICONASTERISK};
    const std::vector<UINT> error{MB_ICONHAND};
    struct Step {
        const char* unplug;
        const char* plug;
        const char* result;
        const char* counts;
        const char* last;
        const std::vector<UINT>& sounds; // played by this arrival
    } steps[] = {
        {"Tablet", "Tablet", "OK!", "Burned and verified: 1   Failed: 0", "OK!", ok},
        {"Tablet", "Stuck", "Error!!", "Burned and verified: 1   Failed: 1", "Error!!", error},
        {"Stuck", "Tablet", "OK!", "Burned and verified: 2   Failed: 1", "OK!", ok},
        // No tablet: the arrival shows what it always did, and is no burn.
        {"Tablet", "Mouse", "Error!!", "Burned and verified: 2   Failed: 1", "OK!", none},
    };
    RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        ExpectTally(dlg, "Burned and verified: 0   Failed: 0", "");
        EXPECT_TRUE(bus.Sounds().empty()) << "taking up the plugged tablet burns nothing";
        watcher.QueueFileAnswer(good);
        Click(dlg, IDC_AUTO_BURN);
        int number = 0;
        for (const Step& step : steps) {
            SCOPED_TRACE(testing::Message() << "step " << ++number);
            const std::string before = TextOf(dlg, IDC_TALLY);
            bus.Unplug(step.unplug);
            ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice && bus.PendingReportCount() == 0; }));
            ASSERT_TRUE(PumpUntil([&] { return TextOf(dlg, IDC_RESULT).empty(); }));
            EXPECT_EQ(before, TextOf(dlg, IDC_TALLY)) << "an unplug leaves the tally";
            const size_t heard = bus.Sounds().size();
            bus.Plug(step.plug);
            ASSERT_TRUE(PumpUntil([&] { return !TextOf(dlg, IDC_RESULT).empty(); }));
            EXPECT_EQ(step.result, TextOf(dlg, IDC_RESULT));
            ExpectTally(dlg, step.counts, step.last);
            EXPECT_EQ(step.sounds, std::vector<UINT>(bus.Sounds().begin() + heard, bus.Sounds().end()));
        }
        // Auto-burn off: read, not counted, not heard.
        const size_t heard = bus.Sounds().size();
        Click(dlg, IDC_AUTO_BURN);
        bus.Plug("Tablet");
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_eeprom.m_pDevice && dlg.m_lbDump.GetCount() == 16; }));
        ExpectTally(dlg, "Burned and verified: 2   Failed: 1", "OK!");
        EXPECT_EQ(heard, bus.Sounds().size());
    });
}

// Auto-burn checked, its file dialog still open: there is no file yet, so a
// tablet arriving meanwhile is read and compared with the image, not burned.
TEST(ServicePanel, AnArrivalWhileTheAutoBurnFileIsBeingChosenBurnsNothing)
{
    TempFolder folder;
    const std::string good = folder.File("burn.tqc");
    TempFolder::WriteTo(good, QcText(Pattern(0x30, 1)));
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        const HWND line = ::GetWindow(::FindWindowExA(dlg.m_hWnd, nullptr, "msctls_progress32", nullptr),
                                      GW_HWNDPREV);
        std::string shown;
        bus.SetTraceObserver([&](const SimTraceEntry& entry) {
            if (shown.empty() && entry.call == "GetFeature")
                shown = AfxGetWindowText(line);
        });
        bus.Unplug("Tablet");
        ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice && bus.PendingReportCount() == 0; }));
        bus.ClearTrace();
        // The arrival is delivered to the file dialog's message loop.
        bus.Plug("Tablet");
        watcher.QueueFileAnswer(good);
        Click(dlg, IDC_AUTO_BURN);
        bus.SetTraceObserver({});

        EXPECT_EQ(0u, CountOf(bus, "SetFeature")) << "nothing burned";
        EXPECT_EQ(512u, CountOf(bus, "GetFeature")) << "compared, then read for the dump";
        EXPECT_EQ("Reading the tablet.", shown);
        EXPECT_EQ("OK!", TextOf(dlg, IDC_RESULT)) << "the same tablet matches the image read from it";
        EXPECT_EQ(16, dlg.m_lbDump.GetCount());
        ExpectTally(dlg, "Burned and verified: 0   Failed: 0", "");
        EXPECT_TRUE(bus.Sounds().empty()) << "no burn, no sound";
        EXPECT_EQ(good, TextOf(dlg, IDC_AUTO_BURN_FILE)) << "chosen once the dialog closed";
    });
}

// The system's file dialogs, then what Windows' open dialog does once a file
// is chosen, whatever the flags: the current directory stays in the chosen
// file's folder (OFN_NOCHANGEDIR is documented as ineffective for
// GetOpenFileName). Wine 8.0's open dialog honours the flag, so without this
// the framework's own restoring would go untested. The save dialog honours
// the flag on Windows too.
// The flags each dialog was shown with are kept, open and save in turn.
class WindowsOpenDialogs : public Win32FileDialogSystem {
public:
    BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) override
    {
        flags.push_back(ofn->Flags);
        const BOOL chosen = Win32FileDialogSystem::GetOpenFileNameA(ofn);
        if (chosen && ofn->nFileOffset > 0 && ofn->nFileOffset < ofn->nMaxFile) {
            const std::string folder(ofn->lpstrFile, ofn->nFileOffset);
            if (::SetCurrentDirectoryA(folder.c_str()))
                ++moved;
        }
        return chosen;
    }
    BOOL GetSaveFileNameA(LPOPENFILENAMEA ofn) override
    {
        flags.push_back(ofn->Flags);
        return Win32FileDialogSystem::GetSaveFileNameA(ofn);
    }
    unsigned moved = 0;
    std::vector<DWORD> flags;
};

// The file dialogs leave the current directory where it was: a USB stick the
// operator loaded from can be ejected.
TEST(ServicePanel, TheFileDialogsLeaveTheCurrentDirectory)
{
    TempFolder here;
    TempFolder stick;
    const std::string file = stick.File("burn.tqc");
    TempFolder::WriteTo(file, QcText(Pattern(0x11, 2)));
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(here.Path().c_str()));
    std::vector<std::string> after;
    WindowsOpenDialogs dialogs;
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        dlg.m_pFileDialogs = &dialogs;
        auto current = [] {
            char folder[MAX_PATH] = {};
            ::GetCurrentDirectoryA(MAX_PATH, folder);
            return std::string(folder);
        };
        watcher.QueueFileAnswer(file);
        Click(dlg, IDC_LOAD);
        after.push_back(current());
        watcher.QueueFileAnswer(stick.File("copy.tqc"));
        Click(dlg, IDC_SAVE);
        after.push_back(current());
        watcher.QueueFileAnswer(file);
        Click(dlg, IDC_AUTO_BURN);
        after.push_back(current());
        EXPECT_EQ(0x11, dlg.m_eeprom.m_image[0]) << "loaded";
    });
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(3u, run.fileDialogs.size());
    EXPECT_EQ(2u, dialogs.moved) << "both open dialogs moved the directory, as Windows' do";
    // Load and Auto Burn take a read-only file; Save will not write over one.
    // Windows' open dialog refuses a read-only file under
    // OFN_NOREADONLYRETURN; Wine 8.0's returns it all the same, so only the
    // flags show what Windows would do.
    ASSERT_EQ(3u, dialogs.flags.size());
    EXPECT_EQ(0u, dialogs.flags[0] & OFN_NOREADONLYRETURN) << "Load";
    EXPECT_NE(0u, dialogs.flags[1] & OFN_NOREADONLYRETURN) << "Save";
    EXPECT_EQ(0u, dialogs.flags[2] & OFN_NOREADONLYRETURN) << "Auto Burn";
    ASSERT_EQ(3u, after.size());
    for (const std::string& folder : after)
        EXPECT_EQ(0, ::lstrcmpiA(here.Path().c_str(), folder.c_str())) << folder;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(stick.File("copy.tqc").c_str()));
}

namespace {

std::string Utf8(const std::wstring& wide)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
    text.resize(text.size() - 1);
    return text;
}

} // namespace

// Folders named in letters outside every Western ANSI code page: the file
// dialogs hand the path to the *A functions, which take it whole only where
// the manifest's UTF-8 code page is in force (Windows 10 1903 and later).
// A folder of 100 CJK characters keeps the path well under MAX_PATH
// characters, but at three bytes each far over MAX_PATH bytes.
TEST(ServicePanel, LoadAndSaveThroughFoldersNamedInOtherScripts)
{
    // Windows takes the code page from the manifest from 10.0.18362 (1903)
    // on; earlier systems keep the code page of their locale, where such a
    // path cannot reach the *A functions at all. Wine 8.0 takes it whatever
    // version it reports (its test prefix says Windows 7, which would not):
    // there the check runs, but says nothing of Windows 7.
    const bool wine = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ::GetVersionExW(&version);
    const bool before1903 =
        version.dwMajorVersion < 10 || (version.dwMajorVersion == 10 && version.dwBuildNumber < 18362);
    if (!wine && before1903)
        GTEST_SKIP() << "Windows " << version.dwMajorVersion << "." << version.dwMinorVersion << "."
                     << version.dwBuildNumber << " has no UTF-8 code page from the manifest";
    ASSERT_EQ(static_cast<UINT>(CP_UTF8), ::GetACP()) << "the manifest's activeCodePage is not in force";

    std::wstring cjk;
    for (int i = 0; i < 50; ++i)
        cjk += L"\x6F22\x5B57"; // "kanji", 100 characters
    struct Row {
        int row;
        const char* what;
        std::wstring folder;
    };
    const Row rows[] = {
        {1, "Cyrillic", L"\x041F\x0440\x0438\x0431\x043E\x0440"}, // "instrument"
        {2, "100 CJK characters", cjk},
    };
    const std::wstring sourceName = L"\x043E\x043A.tqc";                   // "ok"
    const std::wstring copyName = L"\x043A\x043E\x043F\x0438\x044F.tqc"; // "copy"
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": " << r.what);
        TempFolder folder;
        std::wstring wideFolder(folder.Path().begin(), folder.Path().end());
        // Wine keeps a name as UTF-8 in the Unix file system, which takes
        // 255 bytes to a name, and 100 CJK characters are 300: Wine 8.0 then
        // makes the folder under a name cut short and answers for the whole
        // one all the same. Windows takes 255 characters. Under Wine the same
        // path is made of two folders of half the name each, as long in
        // characters and in bytes.
        const size_t part = wine && r.folder.size() > 85 ? r.folder.size() / 2 : r.folder.size();
        for (size_t at = 0; at < r.folder.size(); at += part) {
            wideFolder += L"\\" + r.folder.substr(at, part);
            ASSERT_TRUE(::CreateDirectoryW(wideFolder.c_str(), nullptr)) << ::GetLastError();
        }
        if (part < r.folder.size())
            std::printf("[          ] row %d: two folders of %u characters (Wine's file names take 255 bytes)\n",
                        r.row, static_cast<unsigned>(part));
        const std::string source = Utf8(wideFolder + L"\\" + sourceName);
        const std::string copy = Utf8(wideFolder + L"\\" + copyName);
        const Image image = Pattern(0x21, static_cast<unsigned>(r.row));
        TempFolder::WriteTo(source, QcText(image));
        // The folder's name is the letters, not their bytes taken as Latin ones.
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((wideFolder + L"\\" + sourceName).c_str()));

        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
            watcher.QueueFileAnswer(source);
            Click(dlg, IDC_LOAD);
            EXPECT_TRUE(dlg.m_eeprom.m_image == image);
            watcher.QueueFileAnswer(copy);
            Click(dlg, IDC_SAVE);
        });
        EXPECT_TRUE(run.boxes.empty()) << MessageBoxWatcher::Describe(run.boxes[0]);
        EXPECT_EQ(2u, run.fileDialogs.size());
        // Saved where it was asked, under its own name, and nothing else left there.
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((wideFolder + L"\\" + copyName).c_str()));
        Image loaded{};
        EXPECT_EQ(QcDataFile::LoadResult::Valid, QcDataFile::Load(copy.c_str(), loaded));
        EXPECT_TRUE(loaded == image);
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileW((wideFolder + L"\\*").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search);
        unsigned files = 0;
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                ++files;
                EXPECT_TRUE(found.cFileName == sourceName || found.cFileName == copyName) << Utf8(found.cFileName);
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        EXPECT_EQ(2u, files);
    }
}

namespace {

const char kShuttingDown[] =
    "The computer is shutting down, so the tablet was not written.\n\nIf the shutdown is cancelled, try again.";

// What Windows sends at the station, step by step.
enum class Session {
    Asks,             // WM_QUERYENDSESSION, outside any burst
    GoesOn,           // WM_ENDSESSION FALSE: the shutdown was cancelled
    Ends,             // WM_ENDSESSION TRUE
    AsksToClose,      // Restart Manager: WM_QUERYENDSESSION with ENDSESSION_CLOSEAPP
    Closes,           // and WM_ENDSESSION TRUE with it: close now, the session goes on
    Replug,           // the tablet unplugged and plugged back, auto-burn on
    SetAll,
    Set,
    SetAllAskedMidway, // Set All, asked at its 100th write
    SetAllForcedMidway, // Set All, asked at its 100th write and ended anyway at its 200th
    SetAllEndsInBox,   // Set All, and the session ends while its refusal is open
};

} // namespace

namespace {

enum class Writer { OneShot, Set, SetAll, Arrival };

// The session's question, sent from another thread without waiting: the
// dialog's thread answers it at its next look at its queue.
void AskTheSession(HWND dialog)
{
    std::thread([dialog] { ::SendNotifyMessageA(dialog, WM_QUERYENDSESSION, 0, 0); }).join();
}

} // namespace

// Every path that writes the tablet, from the operator's click (the arrival,
// the one-shot update's start) to its last write: an end of session and a
// removal of the open tablet waiting for its first look at the queue are both
// refused, and the tablet is written whole and verified, or, where a path
// could not refuse them, not at all and the program says why. The one-shot
// update and the arrival open the tablet themselves: its removal is asked
// right after their first transfer to it.
TEST(ServicePanel, NothingIsGrantedFromTheClickToTheLastWrite)
{
    TempFolder folder;
    const Image image = Pattern(0x30, 1);
    const std::string file = folder.File("burn.tqc");
    TempFolder::WriteTo(file, QcText(image));
    const struct {
        const char* what;
        Writer writer;
        unsigned writes;
    } rows[] = {{"the one-shot update", Writer::OneShot, 256},
                {"Set", Writer::Set, 1},
                {"Set All", Writer::SetAll, 256},
                {"an arrival with auto-burn", Writer::Arrival, 256}};
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        SimDeviceConfig tablet;
        tablet.removeOrderly = true;
        tablet.unplugAfterTransfers = row.writer == Writer::OneShot || row.writer == Writer::Arrival ? 1 : 0;
        sim.AddDevice(tablet);
        bool verified = false;
        DialogRun run;
        if (row.writer == Writer::OneShot) {
            sim.SetTraceObserver([](const SimTraceEntry& entry) {
                if (entry.call == "Open")
                    AskTheSession(AfxGetApp()->m_pMainWnd->GetSafeHwnd());
            });
            run = RunUpdateDialog(sim);
            verified = run.boxes.size() == 1 && run.boxes[0].icon == MB_ICONINFORMATION;
        } else {
            if (row.writer == Writer::Arrival) {
                sim.Unplug("Tablet");
                sim.PumpMessages();
            }
            run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
                watcher.QueueFileAnswer(file);
                Click(dlg, row.writer == Writer::Arrival ? IDC_AUTO_BURN : IDC_LOAD);
                Type(dlg, IDC_ADDRESS, "0");
                Type(dlg, IDC_SET_VALUE, "7");
                bus.ClearTrace();
                if (row.writer == Writer::Arrival) {
                    // Heard, and its message taken off the queue as the loop takes it.
                    bus.Plug("Tablet");
                    MSG arrival{};
                    for (int i = 0; i < 1000 && !::PeekMessageA(&arrival, dlg.m_hWnd, WM_TABLET_ARRIVED,
                                                                WM_TABLET_ARRIVED, PM_REMOVE); ++i)
                        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE | QS_POSTMESSAGE);
                    AskTheSession(dlg.m_hWnd);
                    ::DispatchMessageA(&arrival);
                    verified = TextOf(dlg, IDC_RESULT) == "OK!";
                } else {
                    bus.Unplug("Tablet", /*queryFirst=*/true);
                    for (int i = 0; i < 2000 && HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) == 0; ++i)
                        ::Sleep(1);
                    AskTheSession(dlg.m_hWnd);
                    Click(dlg, row.writer == Writer::Set ? IDC_SET : IDC_SET_ALL);
                    verified = row.writer == Writer::Set ? TextOf(dlg, IDC_DATA_READ) == "0x07,  7    OK"
                                                         : bus.Eeprom("Tablet") == image;
                }
                HandlePendingMessages(bus);
            });
        }
        sim.SetTraceObserver({});
        EXPECT_EQ(std::vector<LRESULT>{FALSE}, run.sessionAnswers);
        std::vector<LRESULT> removals;
        for (const DeviceChangeAnswer& change : run.deviceChanges) {
            if (change.event == DBT_DEVICEQUERYREMOVE)
                removals.push_back(change.result);
        }
        EXPECT_EQ(std::vector<LRESULT>{BROADCAST_QUERY_DENY}, removals);
        const unsigned writes = CountOf(sim, "SetFeature");
        const bool said = !run.boxes.empty() && run.boxes.back().text.find("was not written") != std::string::npos;
        EXPECT_TRUE((writes == row.writes && verified) || (writes == 0 && said)) << writes << " writes";
    }
}

// Windows asks each application once: after a yes, WM_ENDSESSION may come at
// any moment, also long after (another program holding the shutdown), so no
// burst begins until the session goes on. Every burst that does run ends
// whole: each run of writes covers all 256 addresses. A session that ends, or
// Restart Manager's request to close, ends the program, the tablet's access
// ended first.
TEST(ServicePanel, AnEndOfSessionGrantedHoldsEveryBurstUntilTheSessionGoesOn)
{
    TempFolder folder;
    const std::string file = folder.File("burn.tqc");
    TempFolder::WriteTo(file, QcText(Pattern(0x30, 1)));

    using S = Session;
    const struct {
        const char* what;
        std::vector<Session> steps;
        std::vector<unsigned> writes;     // the tablet's writes so far, after each step
        std::vector<LRESULT> answers;     // to each WM_QUERYENDSESSION
        size_t boxes;                     // each kShuttingDown
        const char* result;               // the result line at the end
        bool exitEnabled;
        std::vector<std::string> lastStep; // the traffic of the last step
        unsigned registrations;
        bool ended;                       // the program ends
    } rows[] = {
        {"granted: an arrival waits, and burns once the session goes on",
         {S::Asks, S::Replug, S::GoesOn}, {0, 0, 256}, {TRUE}, 0, "OK!", false,
         {"Open Tablet", "String 20", "Set 0..255", "String 21", "String 20", "Get 0..255", "Get 0..255"}, 2, false},
        {"granted: Set All and Set refuse, and work once the session goes on",
         {S::Asks, S::SetAll, S::Set, S::GoesOn, S::SetAll, S::Set}, {0, 0, 0, 0, 256, 257}, {TRUE}, 2, "", true,
         {"Set 0", "Get 0"}, 2, false},
        {"granted, then the session ends: the tablet is closed as Exit closes it",
         {S::Asks, S::Ends}, {0, 0}, {TRUE}, 0, "", false, {"String 21", "Close Tablet"}, 0, true},
        {"granted: an arrival waiting when the session ends is never taken up",
         {S::Asks, S::Replug, S::Ends, S::Replug}, {0, 0, 0, 0}, {TRUE}, 0, "", true,
         {"Unplug Tablet", "Plug Tablet"}, 0, true},
        {"granted: the session ends while the refusal is open, and nothing is written",
         {S::Asks, S::SetAllEndsInBox}, {0, 0}, {TRUE}, 1, "", false, {"String 21", "Close Tablet"}, 0, true},
        {"refused during a burst: nothing is remembered", {S::SetAllAskedMidway, S::SetAll}, {256, 512}, {FALSE},
         0, "", false, {"Set 0..255"}, 2, false},
        // Only here does the burst go on after a forced end: Windows documents
        // that the session can end any time after every application has
        // returned from WM_ENDSESSION, so there the process may be ended
        // mid-burst, which nothing in a program can prevent. What is pinned
        // is what the program does: it cuts nothing itself, and ends after.
        {"refused, then forced inside the burst: the program cuts nothing itself, and ends after it",
         {S::SetAllForcedMidway}, {256}, {FALSE}, 0, "", false, {"Set 0..255", "String 21", "Close Tablet"}, 0, true},
        {"Restart Manager's request to close an idle station: granted, and the program ends",
         {S::AsksToClose, S::Closes}, {0, 0}, {TRUE}, 0, "", false, {"String 21", "Close Tablet"}, 0, true},
    };
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << row.what);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        std::vector<unsigned> writesAfter;
        std::vector<LRESULT> answers;
        std::vector<std::string> lastStep;
        std::vector<std::string> traffic; // of every step
        std::string result;
        bool exitEnabled = false;
        unsigned registrations = 0;
        bool ended = false;
        const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
            const HWND dialog = dlg.m_hWnd;
            watcher.QueueFileAnswer(file);
            Click(dlg, IDC_AUTO_BURN);
            ASSERT_EQ(file, TextOf(dlg, IDC_AUTO_BURN_FILE));

            // The session's sends inside a burst, answered there.
            std::atomic<LRESULT> midwayAnswer{-1};
            std::vector<std::thread> midway;
            auto sendMidway = [&](UINT message, WPARAM wParam) {
                midway.emplace_back([&midwayAnswer, dialog, message, wParam] {
                    const LRESULT answer = ::SendMessageA(dialog, message, wParam, 0);
                    if (message == WM_QUERYENDSESSION)
                        midwayAnswer = answer;
                });
                LetTheBurstAnswer();
            };
            unsigned writes = 0;
            Session midwayStep = S::SetAll;
            bus.SetTraceObserver([&](const SimTraceEntry& entry) {
                if (entry.call != "SetFeature")
                    return;
                const unsigned inBurst = ++writes % 256;
                if ((midwayStep == S::SetAllAskedMidway || midwayStep == S::SetAllForcedMidway) && inBurst == 100)
                    sendMidway(WM_QUERYENDSESSION, 0);
                if (midwayStep == S::SetAllForcedMidway && inBurst == 200)
                    sendMidway(WM_ENDSESSION, TRUE);
            });

            for (const Session step : row.steps) {
                bus.ClearTrace();
                midwayStep = step;
                switch (step) {
                case S::Asks:
                case S::AsksToClose:
                    answers.push_back(SendAsTheSession(dialog, WM_QUERYENDSESSION, 0,
                                                       step == S::AsksToClose ? ENDSESSION_CLOSEAPP : 0));
                    break;
                case S::GoesOn:
                case S::Ends:
                case S::Closes:
                    SendAsTheSession(dialog, WM_ENDSESSION, step == S::GoesOn ? FALSE : TRUE,
                                     step == S::Closes ? ENDSESSION_CLOSEAPP : 0);
                    break;
                case S::Replug:
                    bus.Unplug("Tablet");
                    HandlePendingMessages(bus);
                    bus.Plug("Tablet");
                    break;
                case S::Set:
                    Type(dlg, IDC_ADDRESS, "0");
                    Type(dlg, IDC_SET_VALUE, "7");
                    Click(dlg, IDC_SET);
                    break;
                case S::SetAllEndsInBox:
                    watcher.SetOnShow([&](const MessageBoxRecord&) {
                        SendAsTheSession(dialog, WM_ENDSESSION, TRUE);
                    });
                    Click(dlg, IDC_SET_ALL);
                    watcher.SetOnShow({});
                    break;
                case S::SetAll:
                case S::SetAllAskedMidway:
                case S::SetAllForcedMidway:
                    Click(dlg, IDC_SET_ALL);
                    break;
                }
                HandlePendingMessages(bus);
                for (std::thread& sender : midway)
                    sender.join();
                midway.clear();
                if (midwayAnswer != -1)
                    answers.push_back(midwayAnswer.exchange(-1));
                writesAfter.push_back(writes);
                lastStep = TrafficShape(bus);
                traffic.insert(traffic.end(), lastStep.begin(), lastStep.end());
            }
            bus.SetTraceObserver({});
            result = TextOf(dlg, IDC_RESULT);
            exitEnabled = Enabled(dlg, IDOK);
            registrations = bus.RegistrationCount();
            ended = dlg.IsEnding();
        });
        EXPECT_EQ(row.writes, writesAfter);
        EXPECT_EQ(row.answers, answers);
        EXPECT_EQ(row.result, result);
        EXPECT_EQ(row.exitEnabled, exitEnabled);
        EXPECT_EQ(row.lastStep, lastStep);
        EXPECT_EQ(row.boxes, run.boxes.size());
        for (const MessageBoxRecord& box : run.boxes) {
            EXPECT_EQ(kShuttingDown, box.text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), box.icon);
        }
        EXPECT_EQ(row.registrations, registrations) << "before the script's cancel, which releases them";
        EXPECT_EQ(row.ended, ended);
        for (const std::string& step : traffic) {
            if (step.compare(0, 4, "Set ") == 0 && step != "Set 0") {
                EXPECT_EQ("Set 0..255", step) << "a burst cut";
            }
        }
    }
}
