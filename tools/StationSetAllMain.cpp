// Drives TabletUpdate's service station through one Set All as an operator
// would, for the benchmark: waits for the station to take up the tablet,
// types the write delay into WriteDely (ms), clicks Set All, waits for the
// burst to end, and closes the station through its close box. The tablet's
// own trace times the writes; this prints what the operator saw.
//
// With --auto-burn it burns on arrival instead: Auto Burn checked with the
// file, then it says it is armed and waits for whoever drives the tablet
// to plug one in, and for that burn's verdict. With --record the Record box
// is checked first, with that file, as an operator who keeps a record does.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "MessageBoxReport.h"
#include "RemoteDialog.h"
#include "ServiceStation.h"
#include "UiDriver.h"
#include "resource.h"

namespace
{
constexpr int kExitRan = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNotStarted = 3;
constexpr int kExitStationFailed = 4;
constexpr int kExitTimeout = 124;
// A burst that has not begun by then never will: the click was lost.
constexpr DWORD kBurstStartMs = 5000;
constexpr size_t kDumpRows = 16;

const char kUsage[] =
    "usage: StationSetAll.exe --delay-ms N [--record FILE] [--auto-burn FILE] [--timeout-ms N]\n"
    "                         -- <program> [args...]\n"
    "Opens the program's service station, sets the write delay to N ms, clicks\n"
    "Set All once, waits for it to end and closes the station.\n"
    "--record FILE: checks Record first and chooses FILE (Windows path).\n"
    "--auto-burn FILE: instead of Set All, checks Auto Burn and chooses FILE,\n"
    "prints \"Auto Burn armed\", waits for a tablet to arrive and be burned, and\n"
    "prints the result line.\n"
    "Prints the time from the click to the end of the burst, every message box\n"
    "(OK is pressed on each) and the program's exit code.\n"
    "Exit code: 0 done, 2 usage error, 3 not started, 4 the station did not come,\n"
    "a file was not taken or Set All did not run, 124 timeout.\n";

int UsageError(const char* problem, const char* argument)
{
    std::fprintf(stderr, "StationSetAll: %s%s%s\n%s", problem, argument ? ": " : "", argument ? argument : "", kUsage);
    return kExitUsage;
}

int Fail(UiDriver& driver, const char* what)
{
    std::fprintf(stderr, "StationSetAll: %s\n", what);
    const UiRunResult result = driver.Finish();
    return result.outcome == RunOutcome::TimedOut ? kExitTimeout : kExitStationFailed;
}

// Closes the station through its close box and waits for the program to end.
int Close(UiDriver& driver, const RemoteDialog& panel)
{
    panel.Close();
    const UiRunResult result = driver.Finish();
    if (result.outcome != RunOutcome::Exited)
        return kExitTimeout;
    std::printf("Exit code %lu\n", static_cast<unsigned long>(result.exitCode));
    return kExitRan;
}

// Auto Burn armed, the burn of the next tablet to arrive: the tally counts
// it before the station reads the tablet for its dump, and the result line
// shows the verdict once that read is done (the dump was emptied on arrival).
int BurnOnArrival(UiDriver& driver, const RemoteDialog& panel, DWORD timeoutMs)
{
    const std::string tally = panel.Text(IDC_TALLY);
    std::printf("Auto Burn armed\n");
    std::fflush(stdout);
    if (!driver.WaitUntil(
            [&] {
                return panel.Text(IDC_TALLY) != tally && panel.ListItems(IDC_DUMP_LIST).size() == kDumpRows &&
                       !panel.Text(IDC_RESULT).empty();
            },
            timeoutMs))
        return Fail(driver, "no tablet was burned");
    std::printf("Auto burn: %s\n", panel.Text(IDC_RESULT).c_str());
    return kExitRan;
}
}

int main(int argc, char** argv)
{
    UiRunOptions options;
    options.timeoutMs = 120000;
    DWORD delayMs = 0;
    bool delayGiven = false;
    std::string recordFile;
    std::string autoBurnFile;
    int argument = 1;
    for (; argument + 1 < argc && std::strcmp(argv[argument], "--") != 0; argument += 2)
    {
        const char* option = argv[argument];
        const char* value = argv[argument + 1];
        if (std::strcmp(option, "--delay-ms") == 0 && ParseMilliseconds(value, delayMs))
            delayGiven = true;
        else if (std::strcmp(option, "--record") == 0 && *value)
            recordFile = value;
        else if (std::strcmp(option, "--auto-burn") == 0 && *value)
            autoBurnFile = value;
        else if (std::strcmp(option, "--timeout-ms") != 0 || !ParseMilliseconds(value, options.timeoutMs))
            return UsageError("bad option or value", option);
    }
    if (!delayGiven)
        return UsageError("--delay-ms is required", nullptr);
    if (argument + 1 >= argc || std::strcmp(argv[argument], "--") != 0)
        return UsageError("missing -- <program>", nullptr);
    options.commandLine = JoinCommandLine(std::vector<std::string>(argv + argument + 1, argv + argc));
    options.onMessageBox = [](const SeenMessageBox& box) {
        std::printf("%s\n", FormatMessageBoxLine(box).c_str());
        std::fflush(stdout);
    };

    const DWORD timeoutMs = options.timeoutMs;
    UiDriver driver(std::move(options));
    if (!driver.Start())
    {
        std::fprintf(stderr, "StationSetAll: cannot start the program: error %lu\n",
                     static_cast<unsigned long>(driver.Finish().startError));
        return kExitNotStarted;
    }
    const HWND station = WaitForStation(driver);
    if (station == nullptr)
        return Fail(driver, "the service station did not come up");
    const RemoteDialog panel(station);
    if (!panel.Type(IDC_WRITE_DELAY_MS, std::to_string(delayMs)) ||
        !driver.WaitUntil([&] { return panel.WaitIdle(200); }, 5000))
        return Fail(driver, "the write delay could not be typed");
    if (!recordFile.empty() && !ChooseStationFile(driver, panel, IDC_RECORD, IDC_RECORD_FILE, recordFile))
        return Fail(driver, "the record file was not taken");
    if (!autoBurnFile.empty()) {
        if (!ChooseStationFile(driver, panel, IDC_AUTO_BURN, IDC_AUTO_BURN_FILE, autoBurnFile))
            return Fail(driver, "the auto-burn file was not taken");
        const int burned = BurnOnArrival(driver, panel, timeoutMs);
        return burned != kExitRan ? burned : Close(driver, panel);
    }

    // The burst disables Set All from its first transfer to its last.
    const DWORD clicked = ::GetTickCount();
    if (!panel.Click(IDC_SET_ALL))
        return Fail(driver, "Set All is not there to click");
    if (!driver.WaitUntil([&] { return !panel.IsEnabled(IDC_SET_ALL); }, kBurstStartMs))
        return Fail(driver, "Set All did not begin");
    if (!driver.WaitUntil([&] { return panel.IsEnabled(IDC_SET_ALL); }, timeoutMs))
        return Fail(driver, "Set All did not end");
    const DWORD ended = ::GetTickCount();
    std::printf("Set All at %lu ms: %lu ms from the click to the end of the burst\n",
                static_cast<unsigned long>(delayMs), static_cast<unsigned long>(ended - clicked));

    return Close(driver, panel);
}
