#pragma once
// The real file system, but ReplaceFileA and MoveFileExA fail on demand the
// way Microsoft documents their failures, names and all, a folder can refuse
// every new file, a name can be a symbolic link, and the wait for a held file
// runs on a virtual clock.

#include "Win32FileSystem.h"

#include <set>
#include <string>
#include <vector>

class ScriptedFileSystem : public Win32FileSystem {
public:
    // What a failed ReplaceFileA leaves behind, as documented for its codes.
    enum class Aftermath {
        NamesKept,     // every file under its own name
        TargetRemoved, // ERROR_UNABLE_TO_MOVE_REPLACEMENT without a backup name: the old file is gone
        TargetToBackup // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file under the backup name
                       // (or, without one, another name), the replacement still under its own
    };
    struct ReplaceFailure {
        DWORD error;
        Aftermath aftermath;
    };
    // Failures for the next ReplaceFileA calls, in order; the last one
    // repeats when `repeatLast`, otherwise the calls after them are real.
    std::vector<ReplaceFailure> replaceFailures;
    bool repeatLast = false;
    // MoveFileExA calls that fail with `moveError`: that many of those that
    // move the image into place, and of those that put the old file back.
    DWORD moveError = ERROR_SHARING_VIOLATION;
    unsigned imageMovesFailing = 0;
    unsigned oldFileMovesFailing = 0;

    // Every CreateFileA that makes a new file (CREATE_NEW) fails with this,
    // as on a write-protected card or in a folder the user may not write to.
    DWORD createNewError = 0;
    // The name that is a symbolic link: a handle opened on it reports what
    // Windows reports for one opened with FILE_FLAG_OPEN_REPARSE_POINT.
    std::string linkPath;
    // Another program deletes the target just as it is about to be
    // replaced: when its name is first opened for DELETE.
    bool targetGoesBeforeReplace = false;

    unsigned replaceCalls = 0;
    unsigned moveCalls = 0;
    DWORD now = 0; // the virtual clock, in ms

    BOOL ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                      DWORD replaceFlags, LPVOID exclude, LPVOID reserved) override;
    BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) override;
    HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                      DWORD size) override;
    DWORD GetTickCount() override { return now; }
    void Sleep(DWORD milliseconds) override { now += milliseconds; }

private:
    std::string m_backup; // the backup name of the last ReplaceFileA call
    std::set<HANDLE> m_linkHandles;
};
