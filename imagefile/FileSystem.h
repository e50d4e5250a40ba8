#pragma once
// The file calls that put a saved QC data file in place, as one interface.
//
// Replacing a file can fail half way in ways that no test can make a real
// file system do on demand (ReplaceFile that has moved the old file aside and
// then cannot move the new one in, a card whose write-protect switch is on, a
// symbolic link where Wine cannot make one). Win32FileSystem forwards each
// call to the real function; a test stands in for it to make each documented
// failure happen. Methods carry the Windows names and signatures one to one.

#include <windows.h>

class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual DWORD GetFileAttributesA(LPCSTR fileName) = 0;
    virtual BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) = 0;
    virtual HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                               LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    virtual BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                              DWORD size) = 0;
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) = 0;
    virtual BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                           LPOVERLAPPED overlapped) = 0;
    virtual BOOL FlushFileBuffers(HANDLE file) = 0;
    virtual UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName) = 0;
    virtual BOOL ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                              DWORD replaceFlags, LPVOID exclude, LPVOID reserved) = 0;
    virtual BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) = 0;
    virtual BOOL DeleteFileA(LPCSTR fileName) = 0;

    // The clock of the wait for a file another program holds for a moment.
    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
};
