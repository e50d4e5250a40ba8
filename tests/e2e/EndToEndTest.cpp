// TabletUpdate.exe and TabletUpdateSim.exe started as a user would start
// them; their message boxes are read and answered from outside.

#include "TempFolder.h"
#include "UiDriver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Build paths are Unix paths; Wine shows the Unix root as drive Z:.
std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

struct TraceLine {
    unsigned long timeMs = 0;
    std::string device;
    std::string call;
    std::string arguments;
    std::string result;
};

std::vector<TraceLine> ReadTrace(const std::string& path)
{
    std::vector<TraceLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        std::istringstream fields(text);
        TraceLine line;
        fields >> line.timeMs >> line.device >> line.call;
        std::string word;
        std::string arguments;
        while (fields >> word && word != "->")
            arguments += (arguments.empty() ? "" : " ") + word;
        line.arguments = arguments;
        std::getline(fields, line.result);
        if (!line.result.empty() && line.result[0] == ' ')
            line.result.erase(0, 1);
        lines.push_back(line);
    }
    return lines;
}

std::vector<TraceLine> Only(const std::vector<TraceLine>& trace, const std::string& call)
{
    std::vector<TraceLine> selected;
    for (const TraceLine& line : trace) {
        if (line.call == call)
            selected.push_back(line);
    }
    return selected;
}

UiRunResult RunProgram(const char* exe, std::vector<std::pair<std::string, std::string>> env = {})
{
    UiRunOptions options;
    options.commandLine = Quoted(WindowsPath(exe));
    options.environment = std::move(env);
    options.timeoutMs = 60000;
    return UiDriver(options).Run();
}

const char kNoTablet[] =
    "Please plug in the tablet to another USB Port.\nExecute the program again after a minute.";
const char kUpdated[] =
    "Tablet firmware has been updated,\n please plug in the tablet USB cable again.";
const char kFailed[] = "Tablet firmware has been updated failed,\n please try again.";

} // namespace

TEST(EndToEnd, TheProductWithoutATabletAsksToPlugItIn)
{
    // Wine has no HID tablet: the real setup and HID functions find none.
    const UiRunResult run = RunProgram(TABLETUPDATE_EXE);
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    ASSERT_EQ(1u, run.messageBoxes.size());
    EXPECT_EQ("TabletUpdate", run.messageBoxes[0].caption);
    EXPECT_EQ(kNoTablet, run.messageBoxes[0].text);
    EXPECT_EQ(MessageBoxIcon::Stop, run.messageBoxes[0].icon);
    EXPECT_TRUE(run.messageBoxes[0].pressed);
    EXPECT_EQ(0u, run.exitCode);
}

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
