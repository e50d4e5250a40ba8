// Bad input to the virtual tablet: requests of the wrong length fail alone
// and leave the bus answering; the control tool says what is wrong and
// ends with a non-zero exit code, never hanging.

#include "TempFolder.h"
#include "VirtualTabletSession.h"
#include "WindowsPath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct ConsoleRun {
    bool ended = false;
    DWORD exitCode = 0;
    std::string output; // stdout and stderr
};

// Runs the tool with its output into a file (a pipe's reader could wait
// forever on a child that hangs; a file never blocks), killed after 30 s.
ConsoleRun RunTool(const std::string& arguments, const std::string& outputFile)
{
    ConsoleRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = ::CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return run;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + WindowsPath(VTABLET_EXE) + "\" " + arguments;
    const BOOL started = ::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                          nullptr, nullptr, &startup, &process);
    ::CloseHandle(file);
    if (!started)
        return run;
    if (::WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        run.ended = true;
        ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    } else {
        ::TerminateProcess(process.hProcess, 124);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    run.output = TempFolder::Read(outputFile);
    return run;
}

} // namespace

TEST(BusInput, RequestsOfTheWrongLengthFailAloneAndTheBusKeepsAnswering)
{
    VirtualTabletSession tablet;
    ASSERT_TRUE(tablet.Prepare(ErasedWithOwnTail()));
    VirtualTabletBus& bus = tablet.Bus();
    // A valid plug request at the front, so that a row's length is all
    // that is wrong with it.
    unsigned char bytes[2 * sizeof(VT_PLUG_CONFIG)] = {};
    VT_PLUG_CONFIG valid{};
    valid.size = sizeof(valid);
    valid.vendorId = 0x6A3D;
    valid.productId = 0x0042;
    valid.featureReportByteLength = 8;
    std::memcpy(bytes, &valid, sizeof(valid));
    unsigned char zeros[sizeof(VT_PLUG_CONFIG)] = {};
    struct Row {
        const char* what;
        DWORD code;
        const void* in;
        DWORD inLength;
        DWORD outLength;
    };
    const Row rows[] = {
        {"plug, a byte short", VT_IOCTL_PLUG, bytes, sizeof(VT_PLUG_CONFIG) - 1, 0},
        {"plug, a byte long", VT_IOCTL_PLUG, bytes, sizeof(VT_PLUG_CONFIG) + 1, 0},
        {"plug with every field zero (size 0)", VT_IOCTL_PLUG, zeros, sizeof(VT_PLUG_CONFIG), 0},
        {"EEPROM of 255 bytes", VT_IOCTL_SET_EEPROM, bytes, 255, 0},
        {"EEPROM of 257 bytes", VT_IOCTL_SET_EEPROM, bytes, 257, 0},
        {"EEPROM read into 255 bytes", VT_IOCTL_GET_EEPROM, nullptr, 0, 255},
        {"faults, no buffer", VT_IOCTL_SET_FAULTS, nullptr, 0, 0},
        {"serial number, a byte short", VT_IOCTL_SET_SERIAL, bytes, sizeof(VT_SERIAL) - 1, 0},
        {"status into a short buffer", VT_IOCTL_GET_STATUS, nullptr, 0, sizeof(VT_STATUS) - 1},
        {"trace without its start", VT_IOCTL_READ_TRACE, nullptr, 0, sizeof(VT_TRACE_HEADER)},
        {"trace into no room for its header", VT_IOCTL_READ_TRACE, bytes, sizeof(ULONG), sizeof(VT_TRACE_HEADER) - 1},
    };
    unsigned char out[sizeof(VT_TRACE_HEADER) + sizeof(VT_STATUS)] = {};
    unsigned long refused = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                  bus.Request(row.code, row.in, row.inLength, out, row.outLength, nullptr));
        ++refused;
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION),
              bus.Request(VT_CTL(99, VT_WRITE), nullptr, 0, nullptr, 0, nullptr)) << "an unknown request";

    // A fault that would "fail" with a success status is refused too.
    TabletFaults succeeding;
    succeeding.failGetAt = 1;
    succeeding.failGetStatus = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), bus.SetFaults(succeeding));
    ++refused;
    // So is a serial number no USB string descriptor can hold or a reader
    // could take whole.
    const VT_SERIAL tooLong{sizeof(VT_SERIAL), 1, VT_SERIAL_CHARS + 1, {}};
    const VT_SERIAL noneWithText{sizeof(VT_SERIAL), 0, 1, {'A'}};
    const VT_SERIAL endsInside{sizeof(VT_SERIAL), 1, 3, {'A', 0, 'B'}};
    for (const VT_SERIAL& serial : {tooLong, noneWithText, endsInside}) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                  bus.Request(VT_IOCTL_SET_SERIAL, &serial, sizeof(serial), nullptr, 0, nullptr));
        ++refused;
    }

    const VT_STATUS status = tablet.Status();
    EXPECT_EQ(refused, status.badRequests);
    EXPECT_EQ(0u, status.plugged) << "nothing was plugged in by a refused request";
    ASSERT_TRUE(tablet.PlugIn()) << "the bus still works";
    ASSERT_TRUE(tablet.Unplug());
}

TEST(BusInput, TheControlToolExplainsWhatItCannotDo)
{
    TempFolder folder;
    VirtualTabletSession tablet;
    ASSERT_TRUE(tablet.Prepare(ErasedWithOwnTail()));
    folder.Write("short.bin", std::string(255, '\x11'));
    folder.Write("long.bin", std::string(257, '\x11'));
    struct Row {
        std::string arguments;
        DWORD exitCode;
        const char* says;
    };
    const Row rows[] = {
        {"", 2, "missing command"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"plug --pid", 2, "missing value for --pid"},
        {"plug --pid 0x10000", 2, "--pid needs a number"},
        {"plug --colour red", 2, "unknown option --colour"},
        {"faults --stuck 256", 2, "--stuck needs a number up to 255"},
        {"unplug", 4, "no tablet is plugged in"},
        {"eeprom-set \"" + folder.File("short.bin") + "\"", 5, "holds 255 bytes; an EEPROM image is exactly 256"},
        {"eeprom-set \"" + folder.File("long.bin") + "\"", 5, "holds more than 256 bytes"},
        {"eeprom-set \"" + folder.File("missing.bin") + "\"", 5, "cannot open"},
        {"eeprom-set --fill 0x100", 2, "--fill needs a byte value"},
        {"serial", 2, "serial needs the text, or --none"},
        {"serial " + std::string(127, '7'), 2, "serial holds at most 126 characters"},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE("vtablet " + row.arguments);
        const ConsoleRun run = RunTool(row.arguments, folder.File("output" + std::to_string(index++) + ".txt"));
        ASSERT_TRUE(run.ended) << "the tool must not hang";
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_NE(std::string::npos, run.output.find(row.says)) << run.output;
    }
    EXPECT_EQ(ErasedWithOwnTail(), tablet.Eeprom()) << "no refused command changed the EEPROM";
}
