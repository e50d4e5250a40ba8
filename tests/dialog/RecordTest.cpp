// The station's record with real windows and real files over the simulated
// tablet: each line read back by the tests' own CSV reader.

#include "CsvFile.h"
#include "DialogRun.h"
#include "QcDataFile.h"
#include "TempFolder.h"
#include "UpdateDlg.h"
#include "Version.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using Image = std::array<BYTE, 256>;
using Record = CsvFile::Record;

const char kHeader[] = "Time,Computer,User,Program version,Architecture,Operation,Address,Value,"
                       "Write delay (ms),QC file,SHA-256,Vendor ID,Product ID,Version number,Firmware,"
                       "Serial number,Verdict,First wrong address,Bytes written,Duration (ms)";
// Digests of Pattern(0x30, 1) and Pattern(0x11, 3), made elsewhere (Python's hashlib).
const char kBurnDigest[] = "4a9b53a6131c4064ab4d535fd3ee1a9995bfe2d66be2dc651c1f4d784cbfc9cf";
const char kSetAllDigest[] = "b112aa085a465ab5478f5dff97a9b56ec7a08dc4ede93459dc0eab950828cfc0";

enum Field { Time, Computer, User, Version, Architecture, Operation, Address, Value, Delay, QcFile, Digest,
             VendorId, ProductId, VersionNumber, Firmware, Serial, Verdict, FirstWrong, Written, Duration };

Image Pattern(unsigned start, unsigned step)
{
    Image image{};
    for (unsigned i = 0; i < image.size(); ++i)
        image[i] = static_cast<BYTE>(start + i * step);
    return image;
}

std::string QcFileWith(const std::string& path, const Image& image)
{
    EXPECT_TRUE(QcDataFile::Save(path.c_str(), image)) << path;
    return path;
}

// The tablet taken out and another (or the same) plugged in, its arrival
// handled to the end.
void Replug(SimHidSystem& bus, CUpdateDlg& dlg, const char* out, const char* in)
{
    bus.Unplug(out);
    ASSERT_TRUE(PumpUntil([&] { return !dlg.m_eeprom.m_pDevice && bus.PendingReportCount() == 0; }));
    ASSERT_TRUE(PumpUntil([&] { return TextOf(dlg, IDC_RESULT).empty(); }));
    bus.Plug(in);
    ASSERT_TRUE(PumpUntil([&] { return !TextOf(dlg, IDC_RESULT).empty(); }));
}

void SetByte(CUpdateDlg& dlg, const char* address, const char* value)
{
    Type(dlg, IDC_ADDRESS, address);
    Type(dlg, IDC_SET_VALUE, value);
    Click(dlg, IDC_SET);
}

// Record and Auto Burn checked, and then the record file held by another
// handle without sharing; the handle is the caller's to close.
HANDLE RecordAutoBurnsWhileHeld(MessageBoxWatcher& watcher, CUpdateDlg& dlg, const std::string& record,
                                const std::string& burn)
{
    watcher.QueueFileAnswer(record);
    Click(dlg, IDC_RECORD);
    watcher.QueueFileAnswer(burn);
    Click(dlg, IDC_AUTO_BURN);
    const std::wstring wide(record.begin(), record.end());
    return ::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string ThisUser()
{
    wchar_t name[257] = {};
    DWORD size = 257;
    ::GetUserNameW(name, &size);
    char text[800] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

// 2024-05-06T14:03:07+02:00
bool IsLocalTime(const std::string& time)
{
    const std::string shape = "dddd-dd-ddTdd:dd:dd+dd:dd";
    if (time.size() != shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool ok = shape[i] == 'd' ? (time[i] >= '0' && time[i] <= '9')
                        : shape[i] == '+' ? (time[i] == '+' || time[i] == '-')
                                          : time[i] == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

// A bad burn, a good one, a Set All of a loaded file and a Set: four lines,
// each with every field, under the header.
TEST(StationRecord, EachBurnSetAllAndSetIsALineWithEveryField)
{
    TempFolder folder;
    const std::string record = folder.File("record.csv");
    const std::string burn = QcFileWith(folder.File("burn.tqc"), Pattern(0x30, 1));
    const std::string loaded = QcFileWith(folder.File("loaded.tqc"), Pattern(0x11, 3));
    SimHidSystem sim;
    SimDeviceConfig tablet;
    tablet.serialNumber = "SN-0001";
    sim.AddDevice(tablet);
    SimDeviceConfig stuck;
    stuck.name = "Stuck";
    stuck.stuckAddress = 40;
    stuck.versionNumber = 0x0203;
    stuck.firmware = "R514 V1.00";
    sim.AddDevice(stuck);
    sim.Unplug("Stuck");
    sim.PumpMessages();

    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        watcher.QueueFileAnswer(record);
        Click(dlg, IDC_RECORD);
        EXPECT_EQ(record, TextOf(dlg, IDC_RECORD_FILE));
        EXPECT_EQ(std::string("\xEF\xBB\xBF") + kHeader + "\r\n", TempFolder::Read(record)) << "made when chosen";
        watcher.QueueFileAnswer(burn);
        Click(dlg, IDC_AUTO_BURN);
        Replug(bus, dlg, "Tablet", "Stuck");
        Replug(bus, dlg, "Stuck", "Tablet");
        watcher.QueueFileAnswer(loaded);
        Click(dlg, IDC_LOAD);
        Click(dlg, IDC_SET_ALL);
        SetByte(dlg, "7", " 66 : 0x42");
        EXPECT_EQ("OK!", TextOf(dlg, IDC_RESULT));
    });
    EXPECT_TRUE(run.boxes.empty()) << MessageBoxWatcher::Describe(run.boxes[0]);
    ASSERT_EQ(3u, run.fileDialogs.size());
    EXPECT_EQ("Record burns in", run.fileDialogs[0]);

    const CsvFile csv = CsvFile::Read(record);
    ASSERT_EQ("", csv.error);
    EXPECT_TRUE(csv.byteOrderMark);
    ASSERT_EQ(5u, csv.records.size());
    EXPECT_EQ(kHeader, TempFolder::Read(record).substr(3, sizeof(kHeader) - 1));
    const struct {
        Record fields; // from Operation to Bytes written
        unsigned minDurationMs;
    } rows[] = {
        {{"auto-burn", "", "", "10", burn, kBurnDigest, "0x6A3D", "0x0042", "0x0203", "R514 V1.00", "", "Error!!",
          "40", "256"}, 2560},
        {{"auto-burn", "", "", "10", burn, kBurnDigest, "0x6A3D", "0x0042", "0x0100", "R514 V2.03 2009/11/27",
          "SN-0001", "OK!", "", "256"}, 2560},
        {{"Set All", "", "", "10", loaded, kSetAllDigest, "0x6A3D", "0x0042", "0x0100", "R514 V2.03 2009/11/27",
          "SN-0001", "not verified", "", "256"}, 2560},
        {{"Set", "7", "66", "10", "", "", "0x6A3D", "0x0042", "0x0100", "R514 V2.03 2009/11/27", "SN-0001", "OK!",
          "", "1"}, 0},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "line " << i + 1);
        const Record& line = csv.records[i + 1];
        ASSERT_EQ(20u, line.size());
        EXPECT_TRUE(IsLocalTime(line[Time])) << line[Time];
        EXPECT_FALSE(line[Computer].empty());
        EXPECT_EQ(ThisUser(), line[User]);
        EXPECT_EQ(TABLETUPDATE_VERSION_TEXT, line[Version]);
        EXPECT_EQ(sizeof(void*) == 8 ? "x64" : "x86", line[Architecture]);
        EXPECT_EQ(rows[i].fields, Record(line.begin() + Operation, line.begin() + Duration));
        EXPECT_GE(std::stoul(line[Duration]), rows[i].minDurationMs) << "256 writes, 10 ms apart";
        EXPECT_LT(std::stoul(line[Duration]), rows[i].minDurationMs + 1000);
    }
}

// The file held by another program without sharing: the verdict is shown
// all the same, the result line and one box say the line waits, and the
// lines go in, in order, once the file is free. Lines still waiting when the
// station is left are saved where the operator says.
TEST(StationRecord, LinesTheFileRefusesWaitInOrderAndAreNeverLost)
{
    TempFolder folder;
    const std::string record = folder.File("record.csv");
    const std::string elsewhere = folder.File("elsewhere.csv");
    const std::string burn = QcFileWith(folder.File("burn.tqc"), Pattern(0x30, 1));
    const std::wstring wideRecord(record.begin(), record.end());
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    std::vector<std::string> seen; // the file's lines after each step, but the header
    auto lines = [&] {
        const CsvFile csv = CsvFile::Read(record);
        EXPECT_EQ("", csv.error);
        std::vector<std::string> operations;
        for (size_t i = 1; i < csv.records.size(); ++i)
            operations.push_back(csv.records[i].at(Operation) + " " + csv.records[i].at(Address));
        return operations;
    };
    HANDLE hold = INVALID_HANDLE_VALUE;
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        hold = RecordAutoBurnsWhileHeld(watcher, dlg, record, burn);
        ASSERT_NE(INVALID_HANDLE_VALUE, hold);

        Replug(bus, dlg, "Tablet", "Tablet");
        EXPECT_EQ("OK!  not recorded yet", TextOf(dlg, IDC_RESULT));
        HandlePendingMessages(bus); // the box, once the arrival is over
        EXPECT_EQ(1u, bus.Sounds().size()) << "the verdict sounded all the same";
        Click(dlg, IDC_SET_ALL);
        HandlePendingMessages(bus);
        EXPECT_TRUE(lines().empty());
        ::CloseHandle(hold);
        hold = INVALID_HANDLE_VALUE;
        EXPECT_TRUE(PumpUntil([&] { return lines().size() == 2; })) << "written by the retry";
        EXPECT_EQ("OK!", TextOf(dlg, IDC_RESULT));
        SetByte(dlg, "3", "9");
        seen = lines();

        // Held again when the station is left.
        hold = ::CreateFileW(wideRecord.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        Replug(bus, dlg, "Tablet", "Tablet");
        HandlePendingMessages(bus);
        watcher.QueueFileAnswer(elsewhere);
    });
    if (hold != INVALID_HANDLE_VALUE)
        ::CloseHandle(hold);
    EXPECT_EQ((std::vector<std::string>{"auto-burn ", "Set All ", "Set 3"}), seen);
    EXPECT_EQ(seen, lines()) << "the last line went elsewhere";
    ASSERT_EQ(2u, run.boxes.size()) << "told once for the two lines that waited, and once again when held again";
    for (const MessageBoxRecord& box : run.boxes) {
        EXPECT_EQ(0u, box.text.find("The record file cannot be written:\n" + record + "\n\nAnother program"))
            << box.text;
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), box.icon);
    }
    ASSERT_EQ(3u, run.fileDialogs.size());
    EXPECT_EQ("The record file cannot be written: save its waiting lines in", run.fileDialogs[2]);
    const CsvFile saved = CsvFile::Read(elsewhere);
    EXPECT_EQ("", saved.error);
    ASSERT_EQ(2u, saved.records.size()) << "the header and the line";
    EXPECT_EQ(kHeader, TempFolder::Read(elsewhere).substr(3, sizeof(kHeader) - 1));
    EXPECT_EQ("auto-burn", saved.records[1].at(Operation));
}

// An arrival queued behind Escape, with a line waiting, is not taken up
// inside the question where to save it: no burn there, and no line the
// operator was not asked about goes with "go on without them".
TEST(StationRecord, LeavingWithLinesWaitingBurnsNothingMore)
{
    TempFolder folder;
    const std::string record = folder.File("record.csv");
    const std::string burn = QcFileWith(folder.File("burn.tqc"), Pattern(0x30, 1));
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    HANDLE hold = INVALID_HANDLE_VALUE;
    const DialogRun run = RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        hold = RecordAutoBurnsWhileHeld(watcher, dlg, record, burn);
        Replug(bus, dlg, "Tablet", "Tablet");
        HandlePendingMessages(bus);
        watcher.SetAnswer(IDYES); // no file chosen, then go on without it
        ::PostMessageA(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0); // Escape
        ::PostMessageA(dlg.m_hWnd, WM_TABLET_ARRIVED, 0, 0);
    });
    ::CloseHandle(hold);
    EXPECT_EQ(256u, CallsOf(sim, "SetFeature").size()) << "one burn";
    ASSERT_EQ(2u, run.boxes.size());
    EXPECT_EQ(0u, run.boxes[1].text.find("The record's waiting lines have not been saved")) << run.boxes[1].text;
}

// Restart Manager closes the station while a line waits for the held file:
// nobody can be asked where to save it, so it goes into a file of its own
// under the user's local application data.
TEST(StationRecord, LinesWaitingWhenTheSessionEndsAreKeptInAFileOfTheirOwn)
{
    TempFolder folder;
    const std::string record = folder.File("record.csv");
    const std::string burn = QcFileWith(folder.File("burn.tqc"), Pattern(0x30, 1));
    const std::wstring localAppData(folder.Path().begin(), folder.Path().end());
    wchar_t before[MAX_PATH] = {};
    const DWORD hadOne = ::GetEnvironmentVariableW(L"LOCALAPPDATA", before, MAX_PATH);
    ::SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData.c_str());
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig{});
    HANDLE hold = INVALID_HANDLE_VALUE;
    RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        hold = RecordAutoBurnsWhileHeld(watcher, dlg, record, burn);
        Replug(bus, dlg, "Tablet", "Tablet");
        HandlePendingMessages(bus);
        ::SendMessageA(dlg.m_hWnd, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    });
    ::CloseHandle(hold);
    ::SetEnvironmentVariableW(L"LOCALAPPDATA", hadOne != 0 ? before : nullptr);
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((folder.Path() + "\\TabletUpdate\\record-waiting-*.csv").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search) << "no file of waiting lines";
    ::FindClose(search);
    const CsvFile kept = CsvFile::Read(folder.Path() + "\\TabletUpdate\\" + found.cFileName);
    EXPECT_EQ("", kept.error);
    ASSERT_EQ(2u, kept.records.size()) << "the header and the line";
    EXPECT_EQ("auto-burn", kept.records[1].at(Operation));
}

// A line cut short (by a power cut, or a station ended in the middle of a
// write) is ended before the next station's first line, which begins on a
// line of its own; earlier lines stay whole, and the header is written once.
TEST(StationRecord, ALineCutShortIsEndedBeforeTheNextLine)
{
    TempFolder folder;
    const std::string record = folder.File("record.csv");
    // Before each station: nothing, a line cut anywhere, a line cut between
    // its CR and LF.
    const char* const tails[] = {"", "2031-01-01T00:00:00+00:00,PC,op,1.0.0.0,x6", "2031-01-01,cut\r"};
    for (const char* tail : tails) {
        if (tail[0] != '\0')
            TempFolder::WriteTo(record, TempFolder::Read(record) + tail);
        SimHidSystem sim;
        sim.AddDevice(SimDeviceConfig{});
        RunServiceDialog(sim, [&](SimHidSystem&, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
            watcher.QueueFileAnswer(record);
            Click(dlg, IDC_RECORD);
            SetByte(dlg, "1", "1");
        });
    }
    const CsvFile csv = CsvFile::Read(record);
    ASSERT_EQ("", csv.error);
    ASSERT_EQ(6u, csv.records.size());
    const size_t fields[] = {20, 20, 5, 20, 2, 20};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(testing::Message() << "record " << i);
        EXPECT_EQ(fields[i], csv.records[i].size());
        if (fields[i] == 20 && i != 0) {
            EXPECT_EQ("Set", csv.records[i][Operation]);
        }
    }
    EXPECT_EQ("cut", csv.records[4][1]);
}

// Folders and files named with a comma, an apostrophe and Cyrillic letters,
// a firmware string with quotes and a comma, a serial number with a line
// break that starts like a formula: each field reads back as it was.
TEST(StationRecord, PathsAndTextsWithCommasQuotesAndLineBreaksReadBackWhole)
{
    ASSERT_EQ(static_cast<UINT>(CP_UTF8), ::GetACP()) << "the manifest's activeCodePage is not in force";
    TempFolder folder;
    // "Journal, 'shop 3'" and "record", "firmware, v2"
    const std::string inside =
        folder.Path() + "\\\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB, '\xD1\x86\xD0\xB5\xD1\x85 3'";
    ASSERT_TRUE(::CreateDirectoryA(inside.c_str(), nullptr));
    const std::string record = inside + "\\\xD0\xB7\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C.csv";
    const std::string burn = QcFileWith(inside + "\\\xD0\xBF\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0"
                                                 "\xB0, v2.tqc",
                                        Pattern(0x30, 1));
    SimHidSystem sim;
    SimDeviceConfig tablet;
    tablet.firmware = "R514 \"V2,03\"";
    tablet.serialNumber = "=2+5\nB";
    tablet.firmwareCodePage = CP_UTF8;
    sim.AddDevice(tablet);
    RunServiceDialog(sim, [&](SimHidSystem& bus, CUpdateDlg& dlg, MessageBoxWatcher& watcher) {
        watcher.QueueFileAnswer(record);
        Click(dlg, IDC_RECORD);
        watcher.QueueFileAnswer(burn);
        Click(dlg, IDC_AUTO_BURN);
        Replug(bus, dlg, "Tablet", "Tablet");
    });
    const CsvFile csv = CsvFile::Read(record);
    ASSERT_EQ("", csv.error);
    ASSERT_EQ(2u, csv.records.size());
    const Record& line = csv.records[1];
    ASSERT_EQ(20u, line.size());
    EXPECT_EQ(burn, line[QcFile]);
    EXPECT_EQ("R514 \"V2,03\"", line[Firmware]);
    EXPECT_EQ("'=2+5\nB", line[Serial]) << "a device's text never reaches a spreadsheet as a formula";
    EXPECT_EQ("OK!", line[Verdict]);
}
