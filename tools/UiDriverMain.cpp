// Runs a GUI program as a user would and reads out every message box it
// shows, pressing OK on each, for end-to-end tests and the demo.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "MessageBoxReport.h"
#include "UiDriver.h"

namespace
{
constexpr int kExitRan = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNotStarted = 3;
constexpr int kExitTimeout = 124;

const char kUsage[] =
    "usage: UiDriver.exe [--timeout-ms N] [--env NAME=VALUE]... [--press-delay-ms N] [--cwd DIR]\n"
    "                    -- <program> [args...]\n"
    "Starts the program, prints each message box it shows and presses OK on it,\n"
    "then prints the program's exit code.\n"
    "  --timeout-ms N      kill the program after N ms (default 30000); exit code 124\n"
    "  --env NAME=VALUE    set a variable in the program's environment (repeatable)\n"
    "  --press-delay-ms N  leave each box up for N ms before pressing OK (default 0)\n"
    "  --cwd DIR           start the program in DIR\n"
    "Exit code: 0 the program ran to its end, 2 usage error, 3 the program could not\n"
    "be started, 124 timeout.\n";

int UsageError(const char* problem, const char* argument)
{
    std::fprintf(stderr, "UiDriver: %s%s%s\n%s", problem, argument ? ": " : "", argument ? argument : "", kUsage);
    return kExitUsage;
}

std::string SystemMessage(DWORD error)
{
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string message = length ? std::string(buffer, length) : std::string();
    if (buffer)
        ::LocalFree(buffer);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}
}

int main(int argc, char** argv)
{
    UiRunOptions options;
    int argument = 1;
    for (; argument < argc && std::strcmp(argv[argument], "--") != 0; ++argument)
    {
        const char* option = argv[argument];
        const char* value = argument + 1 < argc ? argv[argument + 1] : nullptr;
        if (!value || std::strcmp(value, "--") == 0)
            return UsageError(std::strncmp(option, "--", 2) == 0 ? "missing value for" : "unknown option", option);
        ++argument;
        if (std::strcmp(option, "--timeout-ms") == 0)
        {
            if (!ParseMilliseconds(value, options.timeoutMs))
                return UsageError("--timeout-ms needs a number of milliseconds", value);
        }
        else if (std::strcmp(option, "--press-delay-ms") == 0)
        {
            if (!ParseMilliseconds(value, options.pressDelayMs))
                return UsageError("--press-delay-ms needs a number of milliseconds", value);
        }
        else if (std::strcmp(option, "--env") == 0)
        {
            const char* equals = std::strchr(value, '=');
            if (!equals || equals == value)
                return UsageError("--env needs NAME=VALUE", value);
            options.environment.emplace_back(std::string(value, equals), std::string(equals + 1));
        }
        else if (std::strcmp(option, "--cwd") == 0)
        {
            options.workingDirectory = value;
        }
        else
        {
            return UsageError("unknown option", option);
        }
    }
    if (argument >= argc)
        return UsageError("missing -- before the program", nullptr);
    if (argument + 1 >= argc)
        return UsageError("missing program after --", nullptr);
    const std::vector<std::string> program(argv + argument + 1, argv + argc);
    options.commandLine = JoinCommandLine(program);
    options.onMessageBox = [](const SeenMessageBox& box) {
        std::printf("%s\n", FormatMessageBoxLine(box).c_str());
        std::fflush(stdout);
    };
    // Like other windows' captions, their texts are kept off the report proper.
    options.onWindowText = [](const std::string& caption, const std::string& text) {
        std::fprintf(stderr, "Window caption=\"%s\" text=\"%s\"\n", EscapeReportText(caption).c_str(),
                     EscapeReportText(text).c_str());
        std::fflush(stderr);
    };

    const DWORD timeoutMs = options.timeoutMs;
    UiDriver driver(std::move(options));
    const UiRunResult result = driver.Run();

    // Another window (an unexpected dialog, say) is worth knowing about, but
    // is kept off the report proper.
    for (const std::string& title : result.otherWindows)
        std::fprintf(stderr, "Window caption=\"%s\"\n", EscapeReportText(title).c_str());

    switch (result.outcome)
    {
    case RunOutcome::Exited:
        std::fprintf(stderr, "Peak memory: working set %lu KiB, private %lu KiB\n",
                     static_cast<unsigned long>(result.peakWorkingSetBytes / 1024),
                     static_cast<unsigned long>(result.peakPrivateBytes / 1024));
        std::printf("Exit code %lu\n", static_cast<unsigned long>(result.exitCode));
        return kExitRan;
    case RunOutcome::TimedOut:
        std::printf("Timeout after %lu ms\n", static_cast<unsigned long>(timeoutMs));
        return kExitTimeout;
    case RunOutcome::StartFailed:
        break;
    }
    std::fprintf(stderr, "UiDriver: cannot start %s: error %lu: %s\n", program.front().c_str(),
                 static_cast<unsigned long>(result.startError), SystemMessage(result.startError).c_str());
    return kExitNotStarted;
}
