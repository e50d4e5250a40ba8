// TabletUpdate.exe and TabletUpdateSim.exe started as a user would start
// them; their message boxes are read and answered from outside.

#include "MessageBoxReport.h"
#include "ProgramCopies.h"
#include "RemoteDialog.h"
#include "resource.h"
#include "ServiceStation.h"
#include "TempFolder.h"
#include "TraceLines.h"
#include "UiDriver.h"
#include "WindowsPath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

UiRunResult RunProgram(const char* exe, std::vector<std::pair<std::string, std::string>> env = {})
{
    UiRunOptions options;
    options.commandLine = Quoted(WindowsPath(exe));
    options.environment = std::move(env);
    options.timeoutMs = 60000;
    return UiDriver(options).Run();
}

const char kUpdated[] =
    "Tablet firmware has been updated,\n please plug in the tablet USB cable again.";
const char kFailed[] = "Tablet firmware has been updated failed,\n please try again.";

} // namespace

// The product without a tablet has its twin in the real-stack suite
// (tests/realstack, row "no tablet"), which tells more: the same box, on a
// HID stack where a bus is present and nothing may be sent to it.

TEST(EndToEnd, TheDemoUpdatesAHealthyTabletAndTracesEveryTransfer)
{
    TempFolder folder;
    const std::string trace = folder.File("trace.txt");
    const UiRunResult run = RunProgram(TABLETUPDATESIM_EXE, {{"TABLETSIM_TRACE", trace}});
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    ASSERT_EQ(1u, run.messageBoxes.size());
    EXPECT_EQ("TabletUpdateSim", run.messageBoxes[0].caption);
    EXPECT_EQ(kUpdated, run.messageBoxes[0].text);
    EXPECT_EQ(MessageBoxIcon::Information, run.messageBoxes[0].icon);

    const std::vector<TraceLine> lines = ReadTrace(trace);
    const auto reads = Only(lines, "GetFeature");
    const auto writes = Only(lines, "SetFeature");
    const auto strings = Only(lines, "GetIndexedString");
    ASSERT_EQ(512u, reads.size());
    ASSERT_EQ(256u, writes.size());
    ASSERT_EQ(2u, strings.size());
    EXPECT_EQ("98", strings[0].arguments);
    EXPECT_EQ("20", strings[1].arguments) << "the access request, and no end of access";

    // Order: 256 reads, the access request, 256 writes, 256 reads.
    size_t index = 0;
    auto expectNext = [&](const std::string& call, size_t count) {
        size_t seen = 0;
        while (index < lines.size() && lines[index].call != call)
            ++index;
        while (index < lines.size() && lines[index].call == call) {
            ++seen;
            ++index;
        }
        EXPECT_EQ(count, seen) << call;
    };
    expectNext("GetFeature", 256);
    expectNext("GetIndexedString", 1);
    expectNext("SetFeature", 256);
    expectNext("GetFeature", 256);

    // Paced on the real clock: at least 10 ms after every write.
    for (size_t i = 1; i < writes.size(); ++i)
        ASSERT_GE(writes[i].timeMs - writes[i - 1].timeMs, 10u) << "write " << i;
    EXPECT_GE(reads[256].timeMs - writes.back().timeMs, 310u);
    for (const TraceLine& line : lines)
        ASSERT_EQ("Tablet", line.device);
}

TEST(EndToEnd, TheDemoReportsAFailureWhenTheTabletIsUnpluggedDuringTheWrite)
{
    TempFolder folder;
    const std::string scenario = folder.File("unplug.ini");
    const std::string trace = folder.File("trace.txt");
    WriteText(scenario,
              "[Bus]\r\nDevices=Mouse,Tablet\r\nClock=virtual\r\n"
              "[Mouse]\r\nKind=generic\r\nVendorID=0x046D\r\nProductID=0xC077\r\n"
              "UsagePage=1\r\nUsage=2\r\n"
              "[Tablet]\r\nKind=tablet\r\nUnplugAfterTransfers=300\r\n");
    const UiRunResult run = RunProgram(
        TABLETUPDATESIM_EXE, {{"TABLETSIM_SCENARIO", scenario}, {"TABLETSIM_TRACE", trace}});
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    ASSERT_EQ(1u, run.messageBoxes.size());
    EXPECT_EQ(kFailed, run.messageBoxes[0].text);
    EXPECT_EQ(MessageBoxIcon::Stop, run.messageBoxes[0].icon);

    const std::vector<TraceLine> lines = ReadTrace(trace);
    ASSERT_FALSE(Only(lines, "Unplug").empty());
    const unsigned long unpluggedAt = Only(lines, "Unplug")[0].timeMs;
    for (const TraceLine& read : Only(lines, "GetFeature")) {
        if (read.timeMs > unpluggedAt) {
            EXPECT_EQ("0 04", read.result) << "a read after the unplug fails";
        }
    }
}

TEST(EndToEnd, TheDemoExplainsAScenarioItCannotUse)
{
    TempFolder folder;
    const std::string scenario = folder.File("bad.ini");
    WriteText(scenario, "[Bus]\r\nDevices=Tablet\r\n[Tablet]\r\nKind=printer\r\n");
    const UiRunResult run = RunProgram(TABLETUPDATESIM_EXE, {{"TABLETSIM_SCENARIO", scenario}});
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    ASSERT_EQ(1u, run.messageBoxes.size());
    EXPECT_EQ("TabletUpdateSim", run.messageBoxes[0].caption);
    EXPECT_NE(std::string::npos, run.messageBoxes[0].text.find("Kind")) << run.messageBoxes[0].text;
}

namespace {


// A QC data file of 256 values, address times 3 plus 1.
std::string BurnFileText()
{
    std::string text = "[EEPROM DATA]\r\n";
    for (unsigned address = 0; address < 256; ++address)
        text += "Value" + std::string(address < 10 ? "00" : address < 100 ? "0" : "") + std::to_string(address) +
                "=" + std::to_string((address * 3 + 1) & 0xFF) + "\r\n";
    return text;
}

UiRunOptions ServiceOptions(const char* exe, bool holdShift, std::vector<std::pair<std::string, std::string>> env)
{
    UiRunOptions options;
    options.commandLine = Quoted(WindowsPath(exe)) + (holdShift ? "" : " /service");
    options.holdShift = holdShift;
    options.environment = std::move(env);
    options.timeoutMs = 60000;
    return options;
}

} // namespace

// Opens the service station as an operator would, checks it, and closes it
// through the close box.
void OpenAndCloseStation(const char* exe, bool holdShift, bool tabletOpen)
{
    const std::string where = std::string(exe) + (holdShift ? " with Shift held" : " /service");
    TempFolder folder;
    const std::string trace = folder.File("trace.txt");
    UiDriver driver(ServiceOptions(exe, holdShift, {{"TABLETSIM_TRACE", trace}}));
    ASSERT_TRUE(driver.Start()) << where;
    const HWND station = WaitForStation(driver);
    ASSERT_NE(nullptr, station) << where;
    const RemoteDialog panel(station);
    for (int id : {IDC_GET, IDC_SET_ALL, IDC_LOAD, IDC_SAVE, IDC_AUTO_BURN, IDC_WRITE_DELAY_MS, IDC_DUMP_LIST}) {
        EXPECT_TRUE(panel.IsVisible(id)) << where << ": control " << id;
        EXPECT_TRUE(panel.IsEnabled(id)) << where << ": control " << id;
    }
    EXPECT_EQ(!tabletOpen, panel.IsEnabled(IDOK)) << where;
    EXPECT_EQ(tabletOpen, panel.IsEnabled(IDC_SET)) << where;
    const SIZE size = panel.ClientSize();
    EXPECT_GT(size.cx, 600) << where;
    EXPECT_GT(size.cy, 350) << where;

    panel.Close();
    const UiRunResult run = driver.Finish();
    ASSERT_EQ(RunOutcome::Exited, run.outcome) << where;
    EXPECT_EQ(0u, run.exitCode) << where;
    EXPECT_TRUE(run.messageBoxes.empty())
        << where << ": no one-shot update, no box" << FormatMessageBoxLines(run.messageBoxes);
    if (tabletOpen) {
        const std::vector<TraceLine> lines = ReadTrace(trace);
        EXPECT_EQ(0u, Only(lines, "SetFeature").size()) << where;
        EXPECT_EQ(256u, Only(lines, "GetFeature").size()) << where;
        const auto strings = Only(lines, "GetIndexedString");
        ASSERT_EQ(2u, strings.size()) << where;
        EXPECT_EQ("20", strings[0].arguments) << where << ": taken up as an arrival";
        EXPECT_EQ("21", strings[1].arguments) << where << ": the close box ends the access";
    }
}

TEST(EndToEnd, TheServiceModeOpensWithShiftOrTheSwitchAndEndsThroughTheCloseBox)
{
    OpenAndCloseStation(TABLETUPDATESIM_EXE, true, true);
    OpenAndCloseStation(TABLETUPDATESIM_EXE, false, true);
    // The product has it too; Wine has no tablet for it.
    OpenAndCloseStation(TABLETUPDATE_EXE, false, false);
}

TEST(EndToEnd, AnOperatorReadsTheTabletThenBurnsAFileWithLoadAndSetAll)
{
    TempFolder folder;
    const std::string trace = folder.File("trace.txt");
    const std::string burn = folder.File("burn.tqc");
    WriteText(burn, BurnFileText());
    UiDriver driver(ServiceOptions(TABLETUPDATESIM_EXE, false, {{"TABLETSIM_TRACE", trace}}));
    ASSERT_TRUE(driver.Start());
    const HWND station = WaitForStation(driver);
    ASSERT_NE(nullptr, station);
    const RemoteDialog panel(station);

    // Get All: the simulated tablet starts all 0xFF.
    ASSERT_TRUE(panel.Click(IDC_GET_ALL));
    ASSERT_TRUE(driver.WaitUntil([&] { return panel.WaitIdle(200); }, 10000));
    const std::vector<std::string> dump = panel.ListItems(IDC_DUMP_LIST);
    ASSERT_EQ(16u, dump.size());
    EXPECT_EQ(0u, dump[15].find("78 : FF(255)  FF(255)")) << dump[15];

    // Get of one byte, typed as an operator types it.
    panel.Type(IDC_ADDRESS, "3");
    ASSERT_TRUE(panel.Click(IDC_GET));
    ASSERT_TRUE(driver.WaitUntil([&] { return panel.WaitIdle(200); }, 10000));
    EXPECT_EQ("0xFF,  255    ", panel.Text(IDC_DATA_READ));

    driver.AnswerFileDialog(burn);
    ASSERT_TRUE(panel.Click(IDC_LOAD));
    ASSERT_TRUE(driver.WaitUntil(
        [&] {
            const auto lines = panel.ListItems(IDC_DUMP_LIST);
            return lines.size() == 16 && lines[0].find("00 : 01(001)  04(004)") == 0;
        },
        10000));
    ASSERT_TRUE(panel.Click(IDC_SET_ALL));
    ASSERT_TRUE(driver.WaitUntil([&] { return StationAtRest(panel); }, 20000));
    panel.Close();
    const UiRunResult run = driver.Finish();
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    EXPECT_EQ(1u, run.fileDialogs.size());
    EXPECT_TRUE(run.messageBoxes.empty()) << FormatMessageBoxLines(run.messageBoxes);

    // Everything after the Get: the file's 256 bytes, paced, in address order.
    const std::vector<TraceLine> writes = Only(ReadTrace(trace), "SetFeature");
    ASSERT_EQ(256u, writes.size());
    for (unsigned address = 0; address < 256; ++address) {
        const unsigned code = (address + 8) & 0xFF;
        const unsigned value = (address * 3 + 1) & 0xFF;
        char expected[32];
        std::snprintf(expected, sizeof(expected), "04 %02X %02X %02X 00 00 00 00", code, value, code ^ value);
        ASSERT_EQ(expected, writes[address].arguments) << "address " << address;
        if (address > 0) {
            ASSERT_GE(writes[address].timeMs - writes[address - 1].timeMs, 10u) << "address " << address;
        }
    }
}

TEST(EndToEnd, ATabletPluggedInWithAutoBurnOnIsBurnedAndShowsOk)
{
    TempFolder folder;
    const std::string scenario = folder.File("later.ini");
    const std::string trace = folder.File("trace.txt");
    const std::string burn = folder.File("burn.tqc");
    WriteText(burn, BurnFileText());
    WriteText(scenario, "[Bus]\r\nDevices=Tablet\r\nClock=real\r\n[Tablet]\r\nKind=tablet\r\nPlugInAfterMs=5000\r\n");
    UiDriver driver(
        ServiceOptions(TABLETUPDATESIM_EXE, true, {{"TABLETSIM_SCENARIO", scenario}, {"TABLETSIM_TRACE", trace}}));
    ASSERT_TRUE(driver.Start());
    const HWND station = WaitForStation(driver);
    ASSERT_NE(nullptr, station);
    const RemoteDialog panel(station);
    EXPECT_TRUE(panel.IsEnabled(IDOK)) << "no tablet yet";

    ASSERT_TRUE(ChooseStationFile(driver, panel, IDC_AUTO_BURN, IDC_AUTO_BURN_FILE, burn));
    ASSERT_TRUE(driver.WaitUntil([&] { return panel.Text(IDC_RESULT) == "OK!" && StationAtRest(panel); }, 30000))
        << "result line: " << panel.Text(IDC_RESULT);
    EXPECT_FALSE(panel.IsEnabled(IDOK));

    panel.Close();
    const UiRunResult run = driver.Finish();
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    const std::vector<TraceLine> lines = ReadTrace(trace);
    EXPECT_EQ(256u, Only(lines, "SetFeature").size());
}

namespace {

// The demo's one-shot update at 20 ms a byte: five seconds of writes, time
// enough for a second copy to start while they run. Its final box stays up
// for `boxMs`, so that copy ends before this one does.
UiRunOptions SlowUpdate(const std::string& trace, DWORD boxMs = 0)
{
    UiRunOptions options;
    options.commandLine = Quoted(WindowsPath(TABLETUPDATESIM_EXE));
    options.environment = {{"TABLETSIM_TRACE", trace}, {"TABLETSIM_WRITE_DELAY_MS", "20"}};
    options.pressDelayMs = boxMs;
    options.timeoutMs = 60000;
    return options;
}

bool WritesBegun(const std::string& trace)
{
    return !Only(ReadTrace(trace), "SetFeature").empty();
}

} // namespace

// Two copies started while the first one writes: the second, in either mode,
// shows its box and exits without making its bus (it would have started the
// shared trace file afresh); the first finishes its one burst untouched.
// Whatever another program put under the global name that earlier versions
// locked (any user's process can make it first) neither locks the copies out
// nor lets them both run.
TEST(EndToEnd, ASecondCopyStartedDuringTheUpdateSaysSoAndTouchesNothing)
{
    enum class Squatter { None, OwnedMutex, Event };
    const struct {
        const char* what;
        const char* arguments;
        Squatter squatter;
    } rows[] = {
        {"a second one-shot update", "", Squatter::None},
        {"a second copy opened as the station", " /service", Squatter::None},
        {"the earlier global name: a mutex another process owns", "", Squatter::OwnedMutex},
        {"the earlier global name: an object of another type", "", Squatter::Event},
    };
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << number++ << ": " << row.what);
        UniqueHandle squatter;
        if (row.squatter != Squatter::None) {
            squatter = SquatEarlierGlobalName(row.squatter == Squatter::OwnedMutex ? Squat::OwnedMutex : Squat::Event);
            ASSERT_TRUE(squatter);
        }
        TempFolder folder;
        const std::string trace = folder.File("trace.txt");
        UiDriver first(SlowUpdate(trace, 3000));
        ASSERT_TRUE(first.Start());
        ASSERT_TRUE(first.WaitUntil([&] { return WritesBegun(trace); }, 20000));

        UiRunOptions options = SlowUpdate(trace);
        options.commandLine += row.arguments;
        const UiRunResult second = UiDriver(options).Run();
        ExpectAlreadyRunning(second, "TabletUpdateSim");
        EXPECT_TRUE(second.otherWindows.empty()) << "no station, no update window";

        const UiRunResult run = first.Finish();
        ASSERT_EQ(RunOutcome::Exited, run.outcome);
        ASSERT_EQ(1u, run.messageBoxes.size());
        EXPECT_EQ(kUpdated, run.messageBoxes[0].text);
        EXPECT_EQ(0u, run.exitCode);
        const std::vector<TraceLine> lines = ReadTrace(trace);
        EXPECT_EQ(256u, Only(lines, "SetFeature").size()) << "one burst";
        EXPECT_EQ(512u, Only(lines, "GetFeature").size());
        EXPECT_EQ(2u, Only(lines, "GetIndexedString").size()) << "the identity and the access request";
    }
}

// An object of another type under the lock's name is never ignored: a copy
// cannot tell whose it is, so it stays off the tablet. Only where the lock is
// the session's mutex does the lock have a name another program can reach;
// where it is the user's private namespace (Windows), the event is nothing
// to the program, which then updates as always.
TEST(EndToEnd, AnObjectOfAnotherTypeUnderTheLocksNameIsTakenForARunningCopy)
{
    const bool namespaces = PrivateNamespacesExist();
    std::printf("[          ] the lock here is %s\n",
                namespaces ? "the user's private namespace"
                           : "the session's mutex (no private namespaces: another user's process cannot be "
                             "shown to be kept out)");
    const UniqueHandle squatter = SquatSessionMutexName();
    ASSERT_TRUE(squatter);
    TempFolder folder;
    const std::string trace = folder.File("trace.txt");
    const UiRunResult run = RunProgram(TABLETUPDATESIM_EXE, {{"TABLETSIM_TRACE", trace}});
    if (namespaces) {
        ASSERT_EQ(1u, run.messageBoxes.size());
        EXPECT_EQ(kUpdated, run.messageBoxes[0].text);
        return;
    }
    ExpectAlreadyRunning(run, "TabletUpdateSim");
    EXPECT_TRUE(ReadTrace(trace).empty()) << "no bus made, nothing sent";
}

// A copy killed in the middle of its writes leaves the mutex abandoned: the
// next copy takes it over and updates the tablet whole.
TEST(EndToEnd, ACopyStartedAfterTheFirstWasKilledRunsNormally)
{
    TempFolder folder;
    const std::string killedTrace = folder.File("killed.txt");
    UiDriver killed(SlowUpdate(killedTrace));
    ASSERT_TRUE(killed.Start());
    ASSERT_TRUE(killed.WaitUntil([&] { return WritesBegun(killedTrace); }, 20000));
    // Where the lock is the user's private namespace, Windows closes it
    // with the killed copy's handles: there is nothing to hold.
    const UniqueHandle held = OpenInstanceMutex();
    ASSERT_TRUE(held || PrivateNamespacesExist()) << "the running copy holds the mutex";
    ASSERT_TRUE(KillProgram(killed));
    EXPECT_EQ(RunOutcome::Exited, killed.Finish().outcome);
    EXPECT_LT(Only(ReadTrace(killedTrace), "SetFeature").size(), 256u) << "killed half way";

    const std::string trace = folder.File("trace.txt");
    const UiRunResult run = RunProgram(TABLETUPDATESIM_EXE, {{"TABLETSIM_TRACE", trace}});
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    ASSERT_EQ(1u, run.messageBoxes.size());
    EXPECT_EQ(kUpdated, run.messageBoxes[0].text);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(256u, Only(ReadTrace(trace), "SetFeature").size());
}
