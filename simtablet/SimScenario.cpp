#include "SimScenario.h"

#include "SimDevice.h"
#include "TabletProtocol.h"
#include "WinHid.h"

#include <climits>
#include <cstdio>
#include <vector>

namespace {

constexpr char kEepromSection[] = "EEPROM DATA";

std::string Trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool SameText(const std::string& a, const std::string& b)
{
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// The profile functions look for a relative name in the Windows folder, not
// the current one, so every path they get is made absolute first.
std::string FullPath(const std::string& path)
{
    const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::vector<char> buffer(needed + 1);
    const DWORD length = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                            buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size())
        return path;
    return std::string(buffer.data(), length);
}

bool IsAbsolute(const std::string& path)
{
    if (!path.empty() && (path[0] == '\\' || path[0] == '/'))
        return true;
    return path.size() >= 2 && path[1] == ':';
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Decimal, or hex after 0x; blanks around it allowed, nothing else.
bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* value)
{
    const std::string digits = Trim(text);
    unsigned base = 10;
    std::size_t start = 0;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        start = 2;
    }
    if (start >= digits.size())
        return false;
    unsigned long long result = 0;
    for (std::size_t i = start; i < digits.size(); ++i) {
        const char c = digits[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (result > (max - digit) / base)
            return false; // beyond the key's range
        result = result * base + digit;
    }
    *value = result;
    return true;
}

// One INI file, read through the profile functions.
class ProfileFile {
public:
    explicit ProfileFile(std::string path) : m_path(std::move(path)) {}

    const std::string& Path() const { return m_path; }

    // The value, blanks and outer quotes stripped by the system; empty when absent.
    std::string Get(const std::string& section, const char* key) const
    {
        std::vector<char> buffer(256);
        for (;;) {
            const DWORD length =
                ::GetPrivateProfileStringA(section.c_str(), key, "", buffer.data(),
                                           static_cast<DWORD>(buffer.size()), m_path.c_str());
            if (length + 1 < buffer.size())
                return std::string(buffer.data(), length);
            buffer.resize(buffer.size() * 2);
        }
    }

    bool HasKey(const std::string& section, const char* key) const
    {
        // The profile reader gives the default only for a missing key, never
        // for an empty value.
        char probe[4];
        ::GetPrivateProfileStringA(section.c_str(), key, "\x01", probe, sizeof(probe), m_path.c_str());
        return !(probe[0] == '\x01' && probe[1] == '\0');
    }

    bool HasSection(const std::string& section) const
    {
        std::vector<char> buffer(1024);
        DWORD length = 0;
        for (;;) {
            length = ::GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      m_path.c_str());
            if (length + 2 < buffer.size())
                break;
            buffer.resize(buffer.size() * 2);
        }
        for (const char* name = buffer.data(); *name != '\0' && name < buffer.data() + length;
             name += std::char_traits<char>::length(name) + 1)
            if (SameText(name, section))
                return true;
        return false;
    }

    std::string Where(const std::string& section, const char* key) const
    {
        std::string where = m_path + ": [" + section + "]";
        if (key != nullptr)
            where += std::string(" ") + key;
        return where;
    }

private:
    std::string m_path;
};

// Reads the keys of one section into typed fields, stopping at the first bad value.
class SectionReader {
public:
    SectionReader(const ProfileFile& file, std::string section, std::string* error)
        : m_file(file), m_section(std::move(section)), m_error(error)
    {
    }

    bool Ok() const { return m_ok; }
    std::string Text(const char* key) const { return m_file.Get(m_section, key); }

    template <typename T>
    void Number(const char* key, unsigned long long max, T* field)
    {
        if (!m_ok)
            return;
        const std::string text = Text(key);
        if (text.empty())
            return;
        unsigned long long value = 0;
        if (!ParseNumber(text, max, &value)) {
            Fail(key, "=" + text + " is not a number from 0 to " + std::to_string(max));
            return;
        }
        *field = static_cast<T>(value);
    }

    void Fail(const char* key, const std::string& problem)
    {
        if (!m_ok)
            return;
        m_ok = false;
        if (m_error != nullptr)
            *m_error = m_file.Where(m_section, key) + problem;
    }

private:
    const ProfileFile& m_file;
    std::string m_section;
    std::string* m_error;
    bool m_ok = true;
};

// A QC data file: [EEPROM DATA] Value000..Value255, decimal; a missing key
// leaves the erased value 0xFF.
bool LoadEepromFile(const std::string& path, std::array<BYTE, 256>* eeprom, std::string* error)
{
    if (!IsFile(path)) {
        if (error != nullptr)
            *error = path + ": EEPROM file not found";
        return false;
    }
    const ProfileFile file(path);
    SectionReader reader(file, kEepromSection, error);
    eeprom->fill(0xFF);
    for (unsigned address = 0; address < eeprom->size() && reader.Ok(); ++address) {
        char key[16];
        std::snprintf(key, sizeof(key), "Value%03u", address);
        reader.Number(key, 0xFF, &(*eeprom)[address]);
    }
    return reader.Ok();
}

bool ReadDevice(const ProfileFile& file, const std::string& section, SimDeviceConfig* config,
                std::string* error)
{
    config->name = section;
    SectionReader reader(file, section, error);

    const std::string kind = reader.Text("Kind");
    if (kind.empty() || SameText(kind, "tablet")) {
        config->kind = SimDeviceKind::Tablet;
    } else if (SameText(kind, "generic")) {
        config->kind = SimDeviceKind::Generic;
        config->vendorId = 0;
        config->productId = 0;
        config->usagePage = 0;
        config->usage = 0;
    } else {
        reader.Fail("Kind", "=" + kind + " is neither tablet nor generic");
        return false;
    }

    reader.Number("VendorID", 0xFFFF, &config->vendorId);
    reader.Number("ProductID", 0xFFFF, &config->productId);
    reader.Number("UsagePage", 0xFFFF, &config->usagePage);
    reader.Number("Usage", 0xFFFF, &config->usage);
    reader.Number("VersionNumber", 0xFFFF, &config->versionNumber);
    reader.Number("FeatureReportByteLength", 0xFFFF, &config->featureReportByteLength);
    reader.Number("StuckAddress", 0xFF, &config->stuckAddress);
    reader.Number("FailReadAt", UINT_MAX, &config->failReadAt);
    reader.Number("FailWriteAt", UINT_MAX, &config->failWriteAt);
    reader.Number("UnplugAfterTransfers", UINT_MAX, &config->unplugAfterTransfers);
    reader.Number("ReplugAfterMs", INT_MAX, &config->replugAfterMs);
    reader.Number("PlugInAfterMs", INT_MAX, &config->plugInAfterMs);
    reader.Number("LatencyMs", INT_MAX, &config->latencyMs);
    unsigned exclusive = 0;
    reader.Number("Exclusive", 1, &exclusive);
    config->exclusive = exclusive != 0;
    unsigned removeOrderly = 0;
    reader.Number("RemoveOrderly", 1, &removeOrderly);
    config->removeOrderly = removeOrderly != 0;
    unsigned queryRemoveFails = 0;
    reader.Number("QueryRemoveFails", 1, &queryRemoveFails);
    config->queryRemoveFails = queryRemoveFails != 0;
    if (!reader.Ok())
        return false;

    if (config->kind == SimDeviceKind::Tablet &&
        config->featureReportByteLength < TabletProtocol::kWriteReportMinLength) {
        reader.Fail("FeatureReportByteLength",
                    "=" + std::to_string(config->featureReportByteLength) +
                        " cannot carry the tablet's report (4 bytes at least)");
        return false;
    }

    const std::string firmware = reader.Text("Firmware");
    if (!firmware.empty()) {
        if (firmware.size() > SimDevice::kMaxStringChars) {
            reader.Fail("Firmware", " is longer than a USB string (126 characters)");
            return false;
        }
        config->firmware = firmware;
    }
    const std::string serialNumber = reader.Text("SerialNumber");
    if (serialNumber.size() > SimDevice::kMaxStringChars) {
        reader.Fail("SerialNumber", " is longer than a USB string (126 characters)");
        return false;
    }
    config->serialNumber = serialNumber;

    const std::string eepromFile = reader.Text("EepromFile");
    if (!eepromFile.empty()) {
        const std::string path =
            FullPath(IsAbsolute(eepromFile) ? eepromFile : FolderOf(file.Path()) + "\\" + eepromFile);
        std::string problem;
        if (!LoadEepromFile(path, &config->eeprom, &problem)) {
            reader.Fail("EepromFile", "=" + eepromFile + ": " + problem);
            return false;
        }
    }
    return true;
}

} // namespace

bool SimScenario::Load(const std::string& iniPath, SimScenario* scenario, std::string* error)
{
    const ProfileFile file(FullPath(iniPath));
    if (!IsFile(file.Path())) {
        if (error != nullptr)
            *error = file.Path() + ": scenario file not found";
        return false;
    }

    SimScenario result;
    SectionReader bus(file, "Bus", error);
    const std::string clock = bus.Text("Clock");
    if (clock.empty() || SameText(clock, "real")) {
        result.clock = SimClockKind::Real;
    } else if (SameText(clock, "virtual")) {
        result.clock = SimClockKind::Virtual;
    } else {
        bus.Fail("Clock", "=" + clock + " is neither real nor virtual");
        return false;
    }

    // "Devices=" with nothing after it is a bus with nothing plugged in; a
    // scenario without the key at all is more likely a typo, and is refused.
    if (!file.HasKey("Bus", "Devices")) {
        bus.Fail("Devices", " is missing");
        return false;
    }
    const std::string list = bus.Text("Devices");
    std::vector<std::string> names;
    for (std::size_t start = 0; !Trim(list).empty() && start <= list.size();) {
        const std::size_t comma = list.find(',', start);
        const std::size_t end = comma == std::string::npos ? list.size() : comma;
        names.push_back(Trim(list.substr(start, end - start)));
        start = end + 1;
    }

    for (const std::string& name : names) {
        if (name.empty()) {
            bus.Fail("Devices", "=" + list + " has an empty name");
            return false;
        }
        for (const SimDeviceConfig& earlier : result.devices) {
            if (SameText(earlier.name, name)) {
                bus.Fail("Devices", "=" + list + " names " + name + " twice");
                return false;
            }
        }
        if (!file.HasSection(name)) {
            bus.Fail("Devices", " names section [" + name + "], which is missing");
            return false;
        }
        SimDeviceConfig config;
        if (!ReadDevice(file, name, &config, error))
            return false;
        result.devices.push_back(config);
    }

    *scenario = std::move(result);
    return true;
}
