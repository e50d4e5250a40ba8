#include "Win32FileSystem.h"

DWORD Win32FileSystem::GetFileAttributesA(LPCSTR fileName)
{
    return ::GetFileAttributesA(fileName);
}

BOOL Win32FileSystem::SetFileAttributesA(LPCSTR fileName, DWORD attributes)
{
    return ::SetFileAttributesA(fileName, attributes);
}

HANDLE Win32FileSystem::CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                    LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                    DWORD flagsAndAttributes, HANDLE templateFile)
{
    return ::CreateFileA(fileName, desiredAccess, shareMode, security, creationDisposition, flagsAndAttributes,
                         templateFile);
}

BOOL Win32FileSystem::CloseHandle(HANDLE handle)
{
    return ::CloseHandle(handle);
}

BOOL Win32FileSystem::GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                                   DWORD size)
{
    return ::GetFileInformationByHandleEx(file, infoClass, info, size);
}

BOOL Win32FileSystem::ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped)
{
    return ::ReadFile(file, buffer, toRead, read, overlapped);
}

BOOL Win32FileSystem::WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                LPOVERLAPPED overlapped)
{
    return ::WriteFile(file, buffer, toWrite, written, overlapped);
}

BOOL Win32FileSystem::FlushFileBuffers(HANDLE file)
{
    return ::FlushFileBuffers(file);
}

UINT Win32FileSystem::GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName)
{
    return ::GetTempFileNameW(pathName, prefixString, unique, tempFileName);
}

BOOL Win32FileSystem::ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                                   DWORD replaceFlags, LPVOID exclude, LPVOID reserved)
{
    return ::ReplaceFileA(replacedFileName, replacementFileName, backupFileName, replaceFlags, exclude, reserved);
}

BOOL Win32FileSystem::MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags)
{
    return ::MoveFileExA(existingFileName, newFileName, flags);
}

BOOL Win32FileSystem::DeleteFileA(LPCSTR fileName)
{
    return ::DeleteFileA(fileName);
}

DWORD Win32FileSystem::GetTickCount()
{
    return ::GetTickCount();
}

void Win32FileSystem::Sleep(DWORD milliseconds)
{
    ::Sleep(milliseconds);
}
