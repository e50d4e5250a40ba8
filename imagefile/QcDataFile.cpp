#include "QcDataFile.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kSection[] = "EEPROM DATA";
constexpr char kKeyPrefix[] = "Value";
constexpr std::size_t kKeyPrefixLength = sizeof(kKeyPrefix) - 1;

// The profile functions resolve a bare file name against the Windows folder,
// not the current one; a full path makes a relative name mean what it says.
bool FullPath(const char* path, std::string& full)
{
    if (path == nullptr || path[0] == '\0')
        return false;
    DWORD needed = ::GetFullPathNameA(path, 0, nullptr, nullptr);
    for (int attempt = 0; attempt < 2 && needed != 0; ++attempt) {
        std::vector<char> buffer(needed);
        const DWORD length = ::GetFullPathNameA(path, needed, buffer.data(), nullptr);
        if (length == 0)
            return false;
        if (length < needed) {
            full.assign(buffer.data(), length);
            return true;
        }
        needed = length; // the current folder changed between the two calls
    }
    return false;
}

void KeyName(unsigned address, char (&key)[16])
{
    std::snprintf(key, sizeof(key), "Value%03u", address);
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
    }
    return *a == *b;
}

// A double-null-terminated list from a profile query that returns
// "buffer size - 2" when the list did not fit.
template <typename Query>
std::vector<char> ReadNameList(Query query)
{
    for (DWORD size = 4096; size <= 1u << 24; size *= 4) {
        std::vector<char> buffer(size, '\0');
        if (query(buffer.data(), size) < size - 2)
            return buffer;
    }
    return std::vector<char>(2, '\0');
}

template <typename Visit>
void ForEachName(const std::vector<char>& list, Visit visit)
{
    const char* name = list.data();
    while (*name != '\0') {
        visit(name);
        name += std::char_traits<char>::length(name) + 1;
    }
}

bool HasSection(const std::string& path)
{
    const auto names = ReadNameList([&](char* buffer, DWORD size) {
        return ::GetPrivateProfileSectionNamesA(buffer, size, path.c_str());
    });
    bool found = false;
    ForEachName(names, [&](const char* name) {
        found = found || EqualsIgnoringCase(name, kSection);
    });
    return found;
}

// Which of Value000..Value255 the section names. Key names are matched
// without regard to case, as the profile functions do; "Value7" is not
// "Value007" to them either.
std::vector<bool> PresentKeys(const std::string& path)
{
    std::vector<bool> present(256, false);
    const auto names = ReadNameList([&](char* buffer, DWORD size) {
        return ::GetPrivateProfileStringA(kSection, nullptr, "", buffer, size, path.c_str());
    });
    ForEachName(names, [&](const char* name) {
        if (std::char_traits<char>::length(name) != kKeyPrefixLength + 3)
            return;
        for (std::size_t i = 0; i < kKeyPrefixLength; ++i) {
            if (LowerAscii(name[i]) != LowerAscii(kKeyPrefix[i]))
                return;
        }
        unsigned address = 0;
        for (std::size_t i = kKeyPrefixLength; i < kKeyPrefixLength + 3; ++i) {
            if (name[i] < '0' || name[i] > '9')
                return;
            address = address * 10 + static_cast<unsigned>(name[i] - '0');
        }
        if (address < present.size())
            present[address] = true;
    });
    return present;
}

QcDataFile::LoadResult CheckFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                   ? QcDataFile::LoadResult::FileMissing
                   : QcDataFile::LoadResult::FileUnreadable;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return QcDataFile::LoadResult::FileUnreadable;
    // The profile functions take a file they cannot open for an empty one;
    // open it ourselves to tell the two apart.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QcDataFile::LoadResult::FileUnreadable;
    ::CloseHandle(file);
    return QcDataFile::LoadResult::Valid;
}

// A file that is deleted again unless it is kept.
class ScratchFile {
public:
    explicit ScratchFile(std::string path) : m_path(std::move(path)) {}
    ~ScratchFile()
    {
        if (!m_path.empty())
            ::DeleteFileA(m_path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    void Keep() { m_path.clear(); }

private:
    std::string m_path;
};

struct HandleCloser {
    void operator()(HANDLE handle) const
    {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
            ::CloseHandle(handle);
    }
};

// Virus scanners and indexers open a freshly written file for a moment, on
// Windows without sharing delete: a replacement then fails with one of these,
// and a moment later it goes through.
bool HeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

constexpr DWORD kHeldRetryMs = 1000;
constexpr DWORD kHeldPollMs = 50;

// Whether the target can be deleted now, as its replacement must. Asked
// first, because ReplaceFile must not be tried in vain: Wine's creates a
// scratch file of its own beside the target and leaves it there when the
// target is held.
bool TargetFree(const std::string& target)
{
    const std::unique_ptr<void, HandleCloser> probe(
        ::CreateFileA(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe.get() != INVALID_HANDLE_VALUE;
}

// Puts the written copy in the target's place. An existing target is
// replaced with ReplaceFileA, which keeps its identity (creation time, ACL,
// short name); its attributes are put back as they were, since the copy was
// made writable. A target held open is tried again for about a second.
bool ReplaceTarget(const char* scratch, const std::string& target)
{
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    // A read-only target refuses for good: no point waiting for it. Windows
    // refuses to replace a read-only file (access denied); Wine 8.0 replaces
    // it all the same, as root and as anyone else, so the attribute is
    // checked here, just before the replacement.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return false;
    const DWORD start = ::GetTickCount();
    for (;;) {
        // Without a backup name, a ReplaceFile that could not move the copy
        // in has already removed the target: the copy then simply moves.
        const bool exists = ::GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
        BOOL replaced = FALSE;
        if (!exists)
            replaced = ::MoveFileExA(scratch, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        else if (TargetFree(target))
            replaced = ::ReplaceFileA(target.c_str(), scratch, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                      nullptr);
        if (replaced) {
            if (attributes != INVALID_FILE_ATTRIBUTES && ::GetFileAttributesA(target.c_str()) != attributes)
                ::SetFileAttributesA(target.c_str(), attributes);
            return true;
        }
        if (!HeldByAnotherProgram(::GetLastError()) || ::GetTickCount() - start >= kHeldRetryMs)
            return false;
        ::Sleep(kHeldPollMs);
    }
}

} // namespace

bool QcDataFile::ParseValue(const char* text, BYTE& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    unsigned number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > 255)
            return false;
    }
    value = static_cast<BYTE>(number);
    return true;
}

QcDataFile::LoadResult QcDataFile::Load(const char* path, Image& image)
{
    image.fill(0);
    std::string full;
    if (!FullPath(path, full))
        return LoadResult::FileMissing;

    // The bytes are what the profile reader makes of the file, valid or not;
    // the checks below only decide whether they can be trusted.
    std::array<UINT, 256> numbers{};
    for (unsigned address = 0; address < image.size(); ++address) {
        char key[16];
        KeyName(address, key);
        numbers[address] = ::GetPrivateProfileIntA(kSection, key, 0, full.c_str());
        image[address] = static_cast<BYTE>(numbers[address]);
    }

    const LoadResult file = CheckFile(full);
    if (file != LoadResult::Valid)
        return file;
    if (!HasSection(full))
        return LoadResult::SectionMissing;
    const std::vector<bool> present = PresentKeys(full);
    for (bool isPresent : present) {
        if (!isPresent)
            return LoadResult::KeyMissing;
    }

    // A value only counts when its text is a plain byte and the profile
    // reader took the same number from it: "300" would load as 44, "-1" as
    // 255, "12abc" as 12 and "abc" as 0.
    for (unsigned address = 0; address < image.size(); ++address) {
        char key[16];
        KeyName(address, key);
        char text[64] = {};
        const DWORD length = ::GetPrivateProfileStringA(kSection, key, "", text, sizeof(text),
                                                        full.c_str());
        BYTE parsed = 0;
        if (length >= sizeof(text) - 1 || !ParseValue(text, parsed) || numbers[address] != parsed)
            return LoadResult::BadValue;
    }
    return LoadResult::Valid;
}

bool QcDataFile::Save(const char* path, const Image& image)
{
    std::string full;
    if (!FullPath(path, full))
        return false;

    // The profile functions write one key at a time, in place: a failure
    // half way would leave a file that mixes the new image with the old one.
    // So the keys go into a copy beside the target, and the copy replaces the
    // target only once every key is in it. Beside it, so that the replacement
    // is a rename within one volume.
    const std::string::size_type slash = full.find_last_of('\\');
    if (slash == std::string::npos)
        return false;
    const std::string folder = full.substr(0, slash + 1);
    char scratchName[MAX_PATH] = {};
    if (!::GetTempFileNameA(folder.c_str(), "tqc", 0, scratchName))
        return false;
    ScratchFile scratch(scratchName);

    // Other sections and the places of existing keys are kept: the copy
    // starts as the target itself.
    const bool targetExisted = ::GetFileAttributesA(full.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (targetExisted) {
        if (!::CopyFileA(full.c_str(), scratchName, FALSE))
            return false;
        // CopyFile carries a read-only attribute over, and a read-only copy
        // could be neither written nor deleted; the target's own attribute
        // still refuses the replacement below. (Wine 8.0 carries it only to
        // a file that CopyFile creates, so under Wine the copy stays writable.)
        ::SetFileAttributesA(scratchName, FILE_ATTRIBUTE_NORMAL);
    }

    for (unsigned address = 0; address < image.size(); ++address) {
        char key[16];
        char value[8];
        KeyName(address, key);
        std::snprintf(value, sizeof(value), "%u", static_cast<unsigned>(image[address]));
        if (!::WritePrivateProfileStringA(kSection, key, value, scratchName))
            return false;
    }
    // Where the system caches profile files, this writes the copy out first.
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, scratchName);

    // Fails, leaving the target as it was, when the target is read-only or
    // still held open by another program after the retries.
    if (!ReplaceTarget(scratchName, full)) {
        // ReplaceFile with no backup name can fail after it has removed the
        // target (ERROR_UNABLE_TO_MOVE_REPLACEMENT): the image then lives
        // only in the copy, which is kept rather than deleted with it.
        if (targetExisted && ::GetFileAttributesA(full.c_str()) == INVALID_FILE_ATTRIBUTES)
            scratch.Keep();
        return false;
    }
    scratch.Keep();
    return true;
}
