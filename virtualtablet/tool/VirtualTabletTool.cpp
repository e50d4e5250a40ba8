// vtablet: the virtual tablet bus from the command line, for the demo, the
// benchmark and by hand. Every failure prints what went wrong and ends with
// a non-zero exit code; no command waits longer than its stated timeout.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "BareUpdate.h"
#include "TraceLine.h"
#include "VirtualTabletBus.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNoBus = 3;
constexpr int kExitRefused = 4;
constexpr int kExitFile = 5;
constexpr DWORD kWaitMs = 10000;

const char kUsage[] =
    "usage: vtablet <command> [options]\n"
    "  status                      plug state, counters, trace position\n"
    "  plug [--pid N] [--vid N] [--usage-page N] [--usage N] [--feature-length N]\n"
    "       [--firmware TEXT]      plug the tablet in, and wait until its HID interface is there\n"
    "  unplug                      a surprise removal, and wait until the interface is gone\n"
    "  reset                       faults off, counters and trace cleared (tablet unplugged)\n"
    "  serial TEXT | --none        the USB serial number string from the next plug-in on, or none\n"
    "                              (the default); kept across unplugs and resets (tablet unplugged)\n"
    "  eeprom-set FILE | --fill XX set the EEPROM from a 256-byte file, or fill it\n"
    "  eeprom-get FILE | -         write the EEPROM to a 256-byte file, or dump it\n"
    "  faults [--fail-get N] [--fail-set N] [--status HEX] [--stuck ADDRESS] [--latency MS]\n"
    "         [--unplug-after N] [--replug-after MS]\n"
    "                              replace every fault; the counts start again\n"
    "  trace [--from N]            the trace, one line per request, as the simulated bus writes it\n"
    "  bare-update [--delay-ms N]  the 770 transfers of an update through hid.dll, no pauses; prints the time\n"
    "                              with N: paced as the program paces them (N ms after each write, 300 ms\n"
    "                              before the read-back)\n"
    "Exit codes: 0 done, 2 usage, 3 no bus in this prefix, 4 refused by the bus, 5 file error.\n";

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "vtablet: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

std::string ErrorText(DWORD error)
{
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length ? std::string(buffer, length) : std::string();
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return "error " + std::to_string(error) + (text.empty() ? "" : " (" + text + ")");
}

int Refused(const char* what, DWORD error)
{
    std::fprintf(stderr, "vtablet: %s: %s\n", what, ErrorText(error).c_str());
    return kExitRefused;
}

// A number in decimal or 0x-hex, whole and in range, or false.
bool ParseNumber(const char* text, unsigned long maximum, unsigned long& value)
{
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+' || *text == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || parsed > maximum)
        return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

// Options come as "--name value" pairs after the command.
struct Options {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string error;
};

Options ParseOptions(int argc, char** argv, int first, const std::vector<std::string>& known)
{
    Options options;
    for (int i = first; i < argc; i += 2) {
        const std::string name = argv[i];
        bool isKnown = false;
        for (const std::string& k : known)
            isKnown = isKnown || k == name;
        if (!isKnown) {
            options.error = "unknown option " + name;
            return options;
        }
        if (i + 1 >= argc) {
            options.error = "missing value for " + name;
            return options;
        }
        options.pairs.emplace_back(name, argv[i + 1]);
    }
    return options;
}

int Status(VirtualTabletBus& bus)
{
    VT_STATUS status;
    const DWORD error = bus.GetStatus(status);
    if (error != ERROR_SUCCESS)
        return Refused("status", error);
    std::printf("plugged=%lu access=%lu plugs=%lu get=%lu set=%lu strings=%lu failed=%lu trace=%lu lost=%lu "
                "bad-requests=%lu\n",
                status.plugged, status.accessOpen, status.plugCount, status.getFeatures, status.setFeatures,
                status.strings, status.failed, status.traceNext, status.traceLost, status.badRequests);
    return 0;
}

int Plug(VirtualTabletBus& bus, int argc, char** argv)
{
    const Options options =
        ParseOptions(argc, argv, 2, {"--vid", "--pid", "--usage-page", "--usage", "--feature-length", "--firmware"});
    if (!options.error.empty())
        return Usage(options.error);
    TabletPlugConfig config;
    for (const auto& [name, value] : options.pairs) {
        unsigned long number = 0;
        if (name == "--firmware") {
            if (value.size() > VT_FIRMWARE_CHARS)
                return Usage("--firmware holds at most 126 characters");
            config.firmware.assign(value.begin(), value.end());
            continue;
        }
        const unsigned long maximum = name == "--feature-length" ? VT_MAX_FEATURE_LENGTH : 0xFFFF;
        if (!ParseNumber(value.c_str(), maximum, number) || (name == "--feature-length" && number < 2))
            return Usage(name + " needs a number" + (name == "--feature-length" ? " from 2 to 64" : " up to 0xFFFF"));
        USHORT& field = name == "--vid"              ? config.vendorId
                        : name == "--pid"            ? config.productId
                        : name == "--usage-page"     ? config.usagePage
                        : name == "--usage"          ? config.usage
                                                     : config.featureReportByteLength;
        field = static_cast<USHORT>(number);
    }
    const DWORD error = bus.Plug(config);
    if (error != ERROR_SUCCESS)
        return Refused("plug", error);
    if (!WaitForTabletInterface(config.vendorId, config.productId, true, kWaitMs)) {
        std::fprintf(stderr, "vtablet: plugged in, but no HID interface appeared within %lu ms\n", kWaitMs);
        return kExitRefused;
    }
    return 0;
}

int Unplug(VirtualTabletBus& bus)
{
    const DWORD error = bus.Unplug();
    // STATUS_NO_SUCH_DEVICE reaches us as ERROR_NO_SUCH_DEVICE (433), which
    // MinGW's winerror.h does not name.
    constexpr DWORD kNoSuchDevice = 433;
    if (error == kNoSuchDevice) {
        std::fprintf(stderr, "vtablet: unplug: no tablet is plugged in\n");
        return kExitRefused;
    }
    if (error != ERROR_SUCCESS)
        return Refused("unplug", error);
    return 0;
}

int Serial(VirtualTabletBus& bus, int argc, char** argv)
{
    if (argc != 3)
        return Usage("serial needs the text, or --none");
    const std::string value = argv[2];
    std::optional<std::wstring> serial;
    if (value != "--none") {
        if (value.compare(0, 2, "--") == 0)
            return Usage("unknown option " + value);
        // The argument arrives in the system's ANSI code page.
        const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, value.c_str(), -1, nullptr, 0);
        if (length <= 0)
            return Usage("serial: the text is not in this system's code page");
        std::wstring text(static_cast<size_t>(length), L'\0');
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, value.c_str(), -1, &text[0], length);
        text.resize(static_cast<size_t>(length) - 1);
        if (text.size() > VT_SERIAL_CHARS)
            return Usage("serial holds at most 126 characters");
        serial = text;
    }
    const DWORD error = bus.SetSerial(serial);
    if (error == ERROR_SUCCESS)
        return 0;
    return Refused(error == ERROR_BUSY ? "serial (unplug the tablet first)" : "serial", error);
}

int EepromSet(VirtualTabletBus& bus, int argc, char** argv)
{
    TabletEeprom bytes{};
    if (argc == 4 && std::strcmp(argv[2], "--fill") == 0) {
        unsigned long value = 0;
        if (!ParseNumber(argv[3], 0xFF, value))
            return Usage("--fill needs a byte value, 0 to 255 (0x00 to 0xFF)");
        bytes.fill(static_cast<BYTE>(value));
    } else if (argc == 3) {
        FILE* file = std::fopen(argv[2], "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "vtablet: cannot open %s\n", argv[2]);
            return kExitFile;
        }
        std::vector<unsigned char> content(VT_EEPROM_SIZE + 1);
        const size_t got = std::fread(content.data(), 1, content.size(), file);
        std::fclose(file);
        if (got != VT_EEPROM_SIZE) {
            std::fprintf(stderr, "vtablet: %s holds %s bytes; an EEPROM image is exactly %d\n", argv[2],
                         got > VT_EEPROM_SIZE ? "more than 256" : std::to_string(got).c_str(), VT_EEPROM_SIZE);
            return kExitFile;
        }
        std::copy(content.begin(), content.begin() + VT_EEPROM_SIZE, bytes.begin());
    } else {
        return Usage("eeprom-set needs a file or --fill XX");
    }
    const DWORD error = bus.SetEeprom(bytes);
    return error == ERROR_SUCCESS ? 0 : Refused("eeprom-set", error);
}

int EepromGet(VirtualTabletBus& bus, int argc, char** argv)
{
    if (argc != 3)
        return Usage("eeprom-get needs a file, or - for a dump");
    TabletEeprom bytes{};
    const DWORD error = bus.GetEeprom(bytes);
    if (error != ERROR_SUCCESS)
        return Refused("eeprom-get", error);
    if (std::strcmp(argv[2], "-") == 0) {
        for (unsigned row = 0; row < VT_EEPROM_SIZE; row += 16) {
            std::printf("%02X:", row);
            for (unsigned i = 0; i < 16; ++i)
                std::printf(" %02X", bytes[row + i]);
            std::printf("\n");
        }
        return 0;
    }
    FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "vtablet: cannot create %s\n", argv[2]);
        return kExitFile;
    }
    const size_t put = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const bool closed = std::fclose(file) == 0;
    if (put != bytes.size() || !closed) {
        std::fprintf(stderr, "vtablet: cannot write %s\n", argv[2]);
        return kExitFile;
    }
    return 0;
}

int Faults(VirtualTabletBus& bus, int argc, char** argv)
{
    const Options options = ParseOptions(
        argc, argv, 2, {"--fail-get", "--fail-set", "--status", "--stuck", "--latency", "--unplug-after", "--replug-after"});
    if (!options.error.empty())
        return Usage(options.error);
    TabletFaults faults;
    for (const auto& [name, value] : options.pairs) {
        unsigned long number = 0;
        const unsigned long maximum = name == "--stuck" ? 255 : name == "--status" ? 0xFFFFFFFFul : 600000;
        if (!ParseNumber(value.c_str(), maximum, number))
            return Usage(name + " needs a number up to " + std::to_string(maximum));
        if (name == "--fail-get")
            faults.failGetAt = number;
        else if (name == "--fail-set")
            faults.failSetAt = number;
        else if (name == "--status")
            faults.failGetStatus = faults.failSetStatus = static_cast<LONG>(number);
        else if (name == "--stuck")
            faults.stuckAddress = static_cast<LONG>(number);
        else if (name == "--latency")
            faults.latencyMs = number;
        else if (name == "--unplug-after")
            faults.unplugAfterTransfers = number;
        else
            faults.replugAfterMs = static_cast<LONG>(number);
    }
    const DWORD error = bus.SetFaults(faults);
    return error == ERROR_SUCCESS ? 0 : Refused("faults", error);
}

int Trace(VirtualTabletBus& bus, int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv, 2, {"--from"});
    if (!options.error.empty())
        return Usage(options.error);
    unsigned long from = 0;
    if (!options.pairs.empty() && !ParseNumber(options.pairs[0].second.c_str(), 0xFFFFFFFFul, from))
        return Usage("--from needs a sequence number");
    std::vector<VT_TRACE_RECORD> records;
    const DWORD error = bus.ReadTrace(from, records);
    if (error != ERROR_SUCCESS)
        return Refused("trace", error);
    for (const VT_TRACE_RECORD& record : records)
        std::printf("%s\n", FormatTraceLine(record).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("missing command");
    const std::string command = argv[1];
    const bool known = command == "status" || command == "plug" || command == "unplug" || command == "reset" ||
                       command == "eeprom-set" || command == "eeprom-get" || command == "faults" || command == "trace" ||
                       command == "bare-update" || command == "serial";
    if (!known)
        return Usage("unknown command '" + command + "'");

    VirtualTabletBus bus;
    const DWORD error = bus.Open();
    if (error != ERROR_SUCCESS) {
        std::fprintf(stderr,
                     "vtablet: no virtual tablet bus in this Wine prefix (its control interface: %s); "
                     "install it with vtinstall.exe\n",
                     ErrorText(error).c_str());
        return kExitNoBus;
    }
    if (command == "status")
        return argc == 2 ? Status(bus) : Usage("status takes no options");
    if (command == "plug")
        return Plug(bus, argc, argv);
    if (command == "unplug")
        return argc == 2 ? Unplug(bus) : Usage("unplug takes no options");
    if (command == "reset") {
        if (argc != 2)
            return Usage("reset takes no options");
        const DWORD reset = bus.Reset();
        return reset == ERROR_SUCCESS ? 0 : Refused("reset (unplug the tablet first)", reset);
    }
    if (command == "serial")
        return Serial(bus, argc, argv);
    if (command == "eeprom-set")
        return EepromSet(bus, argc, argv);
    if (command == "eeprom-get")
        return EepromGet(bus, argc, argv);
    if (command == "faults")
        return Faults(bus, argc, argv);
    if (command == "bare-update") {
        unsigned long delayMs = 0;
        if (argc == 4 && std::string(argv[2]) == "--delay-ms") {
            if (!ParseNumber(argv[3], 1000, delayMs))
                return Usage("--delay-ms takes 0 to 1000");
        } else if (argc != 2) {
            return Usage("bare-update takes only --delay-ms N");
        }
        const BareUpdateResult result = RunBareUpdate(0x6A3D, 0x0042, delayMs);
        if (!result.ok) {
            std::fprintf(stderr, "vtablet: bare-update: %s\n", result.error.c_str());
            return kExitRefused;
        }
        std::printf("%u transfers in %.1f ms\n", result.transfers, result.elapsedMs);
        return result.transfers == 770 ? 0 : kExitRefused;
    }
    return Trace(bus, argc, argv);
}
