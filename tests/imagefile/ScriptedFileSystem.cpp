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

HANDLE ScriptedFileSystem::CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                       LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                       DWORD flagsAndAttributes, HANDLE templateFile)
{
    if (creationDisposition == CREATE_NEW && createNewError != 0) {
        ::SetLastError(createNewError);
        return INVALID_HANDLE_VALUE;
    }
    if (targetGoesBeforeReplace && desiredAccess == DELETE) {
        targetGoesBeforeReplace = false;
        ::DeleteFileA(fileName);
    }
    const HANDLE handle = Win32FileSystem::CreateFileA(fileName, desiredAccess, shareMode, security,
                                                       creationDisposition, flagsAndAttributes, templateFile);
    if (handle != INVALID_HANDLE_VALUE && !linkPath.empty() && linkPath == fileName &&
        (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0)
        m_linkHandles.insert(handle);
    return handle;
}

BOOL ScriptedFileSystem::CloseHandle(HANDLE handle)
{
    m_linkHandles.erase(handle);
    return Win32FileSystem::CloseHandle(handle);
}

BOOL ScriptedFileSystem::GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                                      LPVOID info, DWORD size)
{
    if (!Win32FileSystem::GetFileInformationByHandleEx(file, infoClass, info, size))
        return FALSE;
    if (infoClass == FileAttributeTagInfo && m_linkHandles.count(file) != 0) {
        auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
        tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tag->ReparseTag = IO_REPARSE_TAG_SYMLINK;
    }
    return TRUE;
}
