#include "ScriptedFileSystem.h"

BOOL ScriptedFileSystem::ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                                      DWORD replaceFlags, LPVOID exclude, LPVOID reserved)
{
    const size_t index = replaceCalls++;
    m_backup = backupFileName != nullptr ? backupFileName : "";
    if (index >= replaceFailures.size() && !(repeatLast && !replaceFailures.empty()))
        return Win32FileSystem::ReplaceFileA(replacedFileName, replacementFileName, backupFileName, replaceFlags,
                                             exclude, reserved);
    const ReplaceFailure& failure = replaceFailures[index < replaceFailures.size() ? index : replaceFailures.size() - 1];
    switch (failure.aftermath) {
    case Aftermath::NamesKept:
        break;
    case Aftermath::TargetRemoved:
        ::DeleteFileA(replacedFileName);
        break;
    case Aftermath::TargetToBackup: {
        const std::string aside = backupFileName != nullptr ? backupFileName
                                                            : std::string(replacedFileName) + ".moved-aside";
        ::MoveFileExA(replacedFileName, aside.c_str(), MOVEFILE_REPLACE_EXISTING);
        break;
    }
    }
    ::SetLastError(failure.error);
    return FALSE;
}

BOOL ScriptedFileSystem::MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags)
{
    ++moveCalls;
    const bool oldFile = !m_backup.empty() && m_backup == existingFileName;
    unsigned& failing = oldFile ? oldFileMovesFailing : imageMovesFailing;
    if (failing > 0) {
        --failing;
        ::SetLastError(moveError);
        return FALSE;
    }
    return Win32FileSystem::MoveFileExA(existingFileName, newFileName, flags);
}
