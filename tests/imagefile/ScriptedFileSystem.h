#pragma once
// The real file system, but ReplaceFileA and MoveFileExA fail on demand the
// way Microsoft documents their failures, names and all, and the wait for a
// held file runs on a virtual clock.

#include "Win32FileSystem.h"

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

    unsigned replaceCalls = 0;
    unsigned moveCalls = 0;
    DWORD now = 0; // the virtual clock, in ms

    BOOL ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                      DWORD replaceFlags, LPVOID exclude, LPVOID reserved) override;
    BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) override;
    DWORD GetTickCount() override { return now; }
    void Sleep(DWORD milliseconds) override { now += milliseconds; }

private:
    std::string m_backup; // the backup name of the last ReplaceFileA call
};
