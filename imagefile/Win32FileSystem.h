#pragma once
#include "FileSystem.h"

// The production file system: every call goes straight to the real Windows
// function. Not final: a test derives from it to fail chosen calls and pass
// the rest on.
class Win32FileSystem : public FileSystem {
public:
    DWORD GetFileAttributesA(LPCSTR fileName) override;
    BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) override;
    HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                      DWORD size) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) override;
    BOOL FlushFileBuffers(HANDLE file) override;
    UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName) override;
    BOOL ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                      DWORD replaceFlags, LPVOID exclude, LPVOID reserved) override;
    BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) override;
    BOOL DeleteFileA(LPCSTR fileName) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;
};
