#include "FileReplacement.h"

#include "FileSystem.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace {

using Outcome = FileReplacement::Outcome;

struct HandleCloser {
    FileSystem* files;
    void operator()(HANDLE handle) const
    {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
            files->CloseHandle(handle);
    }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

// A file to be replaced is read whole; anything this large is no file this
// program wrote, and is left alone rather than held in memory.
constexpr DWORD kLargestFile = 16u << 20;
constexpr DWORD kReadChunk = 64u << 10;

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

// A new file in `folder` under a name no file had, made with CREATE_NEW and
// handed back open for writing, so that what is written goes into the file
// made here and nowhere else: a name opened again could by then be a link
// that someone else put there. GetTempFileNameW makes the name only (a
// number given): it needs MAX_PATH characters for its result, and the ANSI
// version would hand the name back through MAX_PATH bytes, which under the
// UTF-8 code page a path of fewer characters can overflow. The numbers are
// tried from the clock on, as GetTempFileName does itself.
FileHandle CreateBeside(FileSystem& files, const std::string& folder, std::string& name, DWORD& error)
{
    FileHandle none(INVALID_HANDLE_VALUE, HandleCloser{&files});
    std::wstring wideFolder;
    if (!Widen(folder, wideFolder)) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return none;
    }
    const DWORD start = files.GetTickCount();
    for (UINT attempt = 0; attempt < 0x10000; ++attempt) {
        const UINT unique = (start + attempt) & 0xFFFF;
        if (unique == 0)
            continue; // 0 asks GetTempFileNameW to make the file itself
        wchar_t wideName[MAX_PATH] = {};
        if (files.GetTempFileNameW(wideFolder.c_str(), L"tqc", unique, wideName) == 0) {
            error = ::GetLastError();
            return none;
        }
        if (!Narrow(wideName, name)) {
            error = ERROR_NO_UNICODE_TRANSLATION;
            return none;
        }
        FileHandle file(files.CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr),
                        HandleCloser{&files});
        if (file.get() != INVALID_HANDLE_VALUE)
            return file;
        error = ::GetLastError();
        name.clear();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_SHARING_VIOLATION)
            return none;
    }
    return none;
}

bool WriteAll(FileSystem& files, HANDLE file, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, kReadChunk));
        DWORD written = 0;
        if (!files.WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    // On the disk before the name moves to it.
    return files.FlushFileBuffers(file) != FALSE;
}

} // namespace

FileReplacement::FileReplacement(FileSystem& files, const std::string& target) : m_files(files), m_target(target)
{
}

FileReplacement::~FileReplacement()
{
    if (!m_copy.empty())
        m_files.DeleteFileA(m_copy.c_str());
    if (!m_backup.empty())
        m_files.DeleteFileA(m_backup.c_str());
}

FileReplacement::Result FileReplacement::Run(const Rewrite& rewrite)
{
    Result result;
    const DWORD attributes = m_files.GetFileAttributesA(m_target.c_str());
    // A read-only target refuses for good: no point waiting for it.
    // Windows refuses to replace a read-only file with access denied,
    // which the wait below would take for a held file and try for a
    // second; Wine 8.0 replaces it, as root and as anyone else. So the
    // attribute is asked first, and the refusal comes at once.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        result.outcome = Outcome::ReadOnly;
        return result;
    }
    std::string old;
    if (attributes != INVALID_FILE_ATTRIBUTES && !ReadTarget(old, result.outcome))
        return result;

    // Beside the target, so that the replacement is a rename within one
    // volume; the backup name is reserved there too.
    const std::string::size_type slash = m_target.find_last_of('\\');
    if (slash == std::string::npos)
        return result;
    const std::string folder = m_target.substr(0, slash + 1);
    {
        DWORD error = ERROR_SUCCESS;
        const FileHandle copy = CreateBeside(m_files, folder, m_copy, error);
        if (copy.get() == INVALID_HANDLE_VALUE) {
            result.outcome = Outcome::FolderRefused;
            result.error = error;
            return result;
        }
        if (!WriteAll(m_files, copy.get(), rewrite(old)))
            return result;
        if (CreateBeside(m_files, folder, m_backup, error).get() == INVALID_HANDLE_VALUE) {
            result.outcome = Outcome::FolderRefused;
            result.error = error;
            return result;
        }
    }

    m_attributes = m_files.GetFileAttributesA(m_target.c_str());
    if (m_attributes == INVALID_FILE_ATTRIBUTES) {
        result.outcome = MoveIn(MOVEFILE_REPLACE_EXISTING) ? Outcome::Replaced : Outcome::Unchanged;
    } else {
        result.outcome = Replace();
        if (result.outcome == Outcome::ContentElsewhere)
            result.outcome = Recover();
    }
    if (result.outcome == Outcome::Replaced) {
        m_copy.clear();
    } else if (result.outcome == Outcome::ContentElsewhere) {
        // The copy is the content's only place now: it is kept, and named
        // to the caller; so is the backup where it holds the old file.
        // Otherwise (the target went before ReplaceFile moved it) the backup
        // is still the empty file that reserved the name, and goes.
        result.contentFile = m_copy;
        m_copy.clear();
        if (m_backupHoldsOld && Exists(m_files, m_backup)) {
            result.previousFile = m_backup;
            m_backup.clear();
        }
    }
    return result;
}

// The file at the name, opened as itself: FILE_FLAG_OPEN_REPARSE_POINT opens
// a symbolic link or junction instead of what it points to. A save through
// a link would read the file it points to and then replace the link with a
// file, or, where the replacement follows it, write somewhere the operator
// never chose. So a name that stands for another (a name surrogate, as
// IsReparseTagNameSurrogate tells) is refused. Other reparse points (files
// a filter keeps, such as cloud placeholders) are the file itself, and are
// read through a plain open, which lets their filter supply the content.
// False, with `refusal` set, when the save must stop here.
bool FileReplacement::ReadTarget(std::string& content, Outcome& refusal)
{
    refusal = Outcome::Unchanged;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle file(m_files.CreateFileA(m_target.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                    HandleCloser{&m_files});
    if (file.get() == INVALID_HANDLE_VALUE) {
        // Gone meanwhile: the name is free for the new file.
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!m_files.GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof(tag)))
        return false;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(tag.ReparseTag)) {
        refusal = Outcome::Link;
        return false;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        refusal = Outcome::ReadOnly;
        return false;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        file.reset(m_files.CreateFileA(m_target.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE)
            return false;
    }

    std::vector<char> chunk(kReadChunk);
    for (;;) {
        DWORD read = 0;
        if (!m_files.ReadFile(file.get(), chunk.data(), kReadChunk, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (content.size() + read > kLargestFile)
            return false;
        content.append(chunk.data(), read);
    }
}

// Whether the target can be deleted now, as its replacement must. Asked
// first, because ReplaceFile must not be tried in vain: Wine's creates a
// scratch file of its own beside the target and leaves it there when the
// target is held.
bool FileReplacement::TargetFree()
{
    const FileHandle probe(m_files.CreateFileA(m_target.c_str(), DELETE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                           HandleCloser{&m_files});
    return probe.get() != INVALID_HANDLE_VALUE;
}

// An existing target is replaced with ReplaceFileA, which keeps its identity
// (creation time, ACL, short name), and always with a backup name: without
// one, a ReplaceFile that fails half way leaves the old file under a name
// nobody is told (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) or not at all
// (ERROR_UNABLE_TO_MOVE_REPLACEMENT). With one, Microsoft documents every
// failure but ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 as leaving each file under
// its own name, and that one as leaving the old file at the backup name.
//
// Tried again for about a second while the target is held.
// ContentElsewhere here means a replacement that failed half way: the old
// file is no longer under its name.
Outcome FileReplacement::Replace()
{
    const DWORD start = m_files.GetTickCount();
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        if (!TargetFree()) {
            error = ::GetLastError();
            // Gone meanwhile: the name is free for the copy.
            if (!Exists(m_files, m_target))
                return Outcome::ContentElsewhere;
        } else if (!m_files.DeleteFileA(m_backup.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            // The backup name was reserved as an empty file; it must be
            // free, or the old file would not go there.
            return Outcome::Unchanged;
        } else if (m_files.ReplaceFileA(m_target.c_str(), m_copy.c_str(), m_backup.c_str(),
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
            KeepAttributes();
            return Outcome::Replaced;
        } else {
            error = ::GetLastError();
            // Judged by the names, not by the code alone: whatever the
            // code, a target that is gone or an old file at the backup
            // name has to be dealt with.
            m_backupHoldsOld = Exists(m_files, m_backup);
            if (m_backupHoldsOld || !Exists(m_files, m_target))
                return Outcome::ContentElsewhere;
        }
        if (!HeldByAnotherProgram(error) || m_files.GetTickCount() - start >= kHeldRetryMs)
            return Outcome::Unchanged;
        m_files.Sleep(kHeldPollMs);
    }
}

// The chosen name is free and the content is still in the copy: the copy
// moves in. Failing that, the old file goes back under its name; failing
// that too, both stay where they are and the caller is told where.
Outcome FileReplacement::Recover()
{
    if (!Exists(m_files, m_target) && MoveIn(0))
        return Outcome::Replaced;
    if (m_backupHoldsOld && !Exists(m_files, m_target) &&
        m_files.MoveFileExA(m_backup.c_str(), m_target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        m_backup.clear(); // it is the target again
        return Outcome::Unchanged;
    }
    return Outcome::ContentElsewhere;
}

// Moves the copy to the target's name, tried again for about a second
// while something holds one of them.
bool FileReplacement::MoveIn(DWORD replace)
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

// The copy was made with plain attributes; the target's own are put back.
void FileReplacement::KeepAttributes()
{
    if (m_attributes != INVALID_FILE_ATTRIBUTES && m_files.GetFileAttributesA(m_target.c_str()) != m_attributes)
        m_files.SetFileAttributesA(m_target.c_str(), m_attributes);
}
