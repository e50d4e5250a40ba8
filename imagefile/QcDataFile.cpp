#include "QcDataFile.h"

#include "Win32FileSystem.h"

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

// The code page the *A file functions take names in: the process's ANSI one
// (UTF-8 where the manifest's activeCodePage is in force), unless the
// program switched them to OEM.
UINT FileNameCodePage()
{
    return ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

bool Widen(const std::string& text, std::wstring& wide)
{
    const UINT codePage = FileNameCodePage();
    const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length));
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.c_str(), -1, buffer.data(), length) != length)
        return false;
    wide.assign(buffer.data());
    return true;
}

bool Narrow(const wchar_t* wide, std::string& text)
{
    const UINT codePage = FileNameCodePage();
    const int length = ::WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    std::vector<char> buffer(static_cast<std::size_t>(length));
    if (::WideCharToMultiByte(codePage, 0, wide, -1, buffer.data(), length, nullptr, nullptr) != length)
        return false;
    text.assign(buffer.data());
    return true;
}

// A name in `folder` that no file had, reserved as an empty file. Made with
// GetTempFileNameW, which needs MAX_PATH characters for its result: the
// ANSI version hands the name back through MAX_PATH bytes, and under the
// UTF-8 code page a path of fewer than MAX_PATH characters can need three
// times as many; it has then made the file and returns a name cut short.
bool ReserveName(const std::string& folder, std::string& name)
{
    std::wstring wideFolder;
    if (!Widen(folder, wideFolder))
        return false;
    wchar_t wideName[MAX_PATH] = {};
    if (!::GetTempFileNameW(wideFolder.c_str(), L"tqc", 0, wideName))
        return false;
    if (!Narrow(wideName, name)) {
        ::DeleteFileW(wideName);
        return false;
    }
    return true;
}

// A file that is deleted again unless it is kept.
class ScratchFile {
public:
    ScratchFile() = default;
    ~ScratchFile()
    {
        if (!m_path.empty())
            ::DeleteFileA(m_path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    bool Reserve(const std::string& folder) { return ReserveName(folder, m_path); }
    const std::string& Path() const { return m_path; }
    void Keep() { m_path.clear(); }

private:
    std::string m_path;
};

struct HandleCloser {
    FileSystem* files;
    void operator()(HANDLE handle) const
    {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
            files->CloseHandle(handle);
    }
};

// Virus scanners and indexers open a freshly written file for a moment, on
// Windows without sharing delete: a replacement then fails with one of these,
// and a moment later it goes through. ReplaceFile reports the first two
// with every name as it was (a backup name given).
bool HeldByAnotherProgram(DWORD error)
{
    return error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
           error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

constexpr DWORD kHeldRetryMs = 1000;
constexpr DWORD kHeldPollMs = 50;

bool Exists(FileSystem& files, const std::string& path)
{
    return files.GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

using Outcome = QcDataFile::SaveResult::Outcome;

// Puts the written copy in the target's place.
//
// An existing target is replaced with ReplaceFileA, which keeps its identity
// (creation time, ACL, short name), and always with a backup name: without
// one, a ReplaceFile that fails half way leaves the old file under a name
// nobody is told (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) or not at all
// (ERROR_UNABLE_TO_MOVE_REPLACEMENT). With one, Microsoft documents every
// failure but ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 as leaving each file under
// its own name, and that one as leaving the old file at the backup name.
class Replacement {
public:
    Replacement(FileSystem& files, const std::string& copy, const std::string& backup, const std::string& target)
        : m_files(files), m_copy(copy), m_backup(backup), m_target(target)
    {
    }

    Outcome Run()
    {
        const DWORD attributes = m_files.GetFileAttributesA(m_target.c_str());
        // A read-only target refuses for good: no point waiting for it.
        // Windows refuses to replace a read-only file with access denied,
        // which the wait below would take for a held file and try for a
        // second; Wine 8.0 replaces it, as root and as anyone else. So the
        // attribute is asked first, and the refusal comes at once.
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return Outcome::ReadOnly;
        m_attributes = attributes;
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return MoveIn(MOVEFILE_REPLACE_EXISTING) ? Outcome::Saved : Outcome::Unchanged;
        const Outcome replaced = Replace();
        if (replaced != Outcome::ImageElsewhere)
            return replaced;
        return Recover();
    }

private:
    // Whether the target can be deleted now, as its replacement must. Asked
    // first, because ReplaceFile must not be tried in vain: Wine's creates a
    // scratch file of its own beside the target and leaves it there when the
    // target is held.
    bool TargetFree()
    {
        const std::unique_ptr<void, HandleCloser> probe(
            m_files.CreateFileA(m_target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            HandleCloser{&m_files});
        return probe.get() != INVALID_HANDLE_VALUE;
    }

    // ReplaceFile, tried again for about a second while the target is held.
    // ImageElsewhere here means a replacement that failed half way: the old
    // file is no longer under its name.
    Outcome Replace()
    {
        const DWORD start = m_files.GetTickCount();
        for (;;) {
            DWORD error = ERROR_SUCCESS;
            if (!TargetFree()) {
                error = ::GetLastError();
                // Gone meanwhile: the name is free for the copy.
                if (!Exists(m_files, m_target))
                    return Outcome::ImageElsewhere;
            } else if (!m_files.DeleteFileA(m_backup.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
                // The backup name was reserved as an empty file; it must be
                // free, or the old file would not go there.
                return Outcome::Unchanged;
            } else if (m_files.ReplaceFileA(m_target.c_str(), m_copy.c_str(), m_backup.c_str(),
                                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
                m_files.DeleteFileA(m_backup.c_str());
                KeepAttributes();
                return Outcome::Saved;
            } else {
                error = ::GetLastError();
                // Judged by the names, not by the code alone: whatever the
                // code, a target that is gone or an old file at the backup
                // name has to be dealt with.
                m_backupHoldsOld = Exists(m_files, m_backup);
                if (m_backupHoldsOld || !Exists(m_files, m_target))
                    return Outcome::ImageElsewhere;
            }
            if (!HeldByAnotherProgram(error) || m_files.GetTickCount() - start >= kHeldRetryMs)
                return Outcome::Unchanged;
            m_files.Sleep(kHeldPollMs);
        }
    }

    // The chosen name is free and the image is still in the copy: the copy
    // moves in. Failing that, the old file goes back under its name; failing
    // that too, both stay where they are and the caller is told where.
    Outcome Recover()
    {
        if (!Exists(m_files, m_target) && MoveIn(0)) {
            if (m_backupHoldsOld)
                m_files.DeleteFileA(m_backup.c_str());
            return Outcome::Saved;
        }
        if (m_backupHoldsOld && !Exists(m_files, m_target) &&
            m_files.MoveFileExA(m_backup.c_str(), m_target.c_str(), MOVEFILE_WRITE_THROUGH))
            return Outcome::Unchanged;
        return Outcome::ImageElsewhere;
    }

    // Moves the copy to the target's name, tried again for about a second
    // while something holds one of them.
    bool MoveIn(DWORD replace)
    {
        const DWORD start = m_files.GetTickCount();
        for (;;) {
            if (m_files.MoveFileExA(m_copy.c_str(), m_target.c_str(), replace | MOVEFILE_WRITE_THROUGH)) {
                KeepAttributes();
                return true;
            }
            if (!HeldByAnotherProgram(::GetLastError()) || m_files.GetTickCount() - start >= kHeldRetryMs)
                return false;
            m_files.Sleep(kHeldPollMs);
        }
    }

    // The copy was made writable; the target's own attributes are put back.
    void KeepAttributes()
    {
        if (m_attributes != INVALID_FILE_ATTRIBUTES && m_files.GetFileAttributesA(m_target.c_str()) != m_attributes)
            m_files.SetFileAttributesA(m_target.c_str(), m_attributes);
    }

    FileSystem& m_files;
    const std::string& m_copy;
    const std::string& m_backup;
    const std::string& m_target;
    DWORD m_attributes = INVALID_FILE_ATTRIBUTES;
    bool m_backupHoldsOld = false;
};

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

bool QcDataFile::Save(const char* path, const Image& image, SaveResult* result)
{
    Win32FileSystem files;
    return Save(path, image, files, result);
}

bool QcDataFile::Save(const char* path, const Image& image, FileSystem& files, SaveResult* result)
{
    SaveResult outcome;
    outcome.outcome = Write(path, image, files, outcome);
    if (result != nullptr)
        *result = outcome;
    return outcome.outcome == SaveResult::Outcome::Saved;
}

QcDataFile::SaveResult::Outcome QcDataFile::Write(const char* path, const Image& image, FileSystem& files,
                                                  SaveResult& result)
{
    std::string full;
    if (!FullPath(path, full))
        return Outcome::Unchanged;
    // Refused before any work: writing the 256 keys into the copy takes a
    // while, and a read-only file will refuse the replacement anyway. The
    // replacement asks again, just before it replaces.
    const DWORD attributes = files.GetFileAttributesA(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return Outcome::ReadOnly;

    // The profile functions write one key at a time, in place: a failure
    // half way would leave a file that mixes the new image with the old one.
    // So the keys go into a copy beside the target, and the copy replaces the
    // target only once every key is in it. Beside it, so that the replacement
    // is a rename within one volume; the backup name is reserved there too.
    const std::string::size_type slash = full.find_last_of('\\');
    if (slash == std::string::npos)
        return Outcome::Unchanged;
    const std::string folder = full.substr(0, slash + 1);
    ScratchFile scratch;
    ScratchFile backup;
    if (!scratch.Reserve(folder) || !backup.Reserve(folder))
        return Outcome::Unchanged;
    const char* scratchName = scratch.Path().c_str();

    // Other sections and the places of existing keys are kept: the copy
    // starts as the target itself.
    const bool targetExisted = ::GetFileAttributesA(full.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (targetExisted) {
        if (!::CopyFileA(full.c_str(), scratchName, FALSE))
            return Outcome::Unchanged;
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
            return Outcome::Unchanged;
    }
    // Where the system caches profile files, this writes the copy out first.
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, scratchName);

    Replacement replacement(files, scratch.Path(), backup.Path(), full);
    const Outcome outcome = replacement.Run();
    if (outcome == Outcome::Saved) {
        scratch.Keep();
    } else if (outcome == Outcome::ImageElsewhere) {
        // The copy is the image's only place now, and the backup may be the
        // old file's: both are kept, and named to the caller.
        result.imageFile = scratch.Path();
        if (Exists(files, backup.Path()))
            result.previousFile = backup.Path();
        scratch.Keep();
        backup.Keep();
    }
    return outcome;
}
