#pragma once
// A DLL of Windows' own, loaded from the system directory and from nowhere
// else, and held for as long as the object lives.
//
// A DLL that is not one of Windows' KnownDLLs and is loaded by bare name is
// looked for in the program's own folder first ("Dynamic-link library search
// order"). A program downloaded into a folder that others can write to (the
// Downloads folder) would then run whatever DLL of that name lies beside it.

#include <windows.h>

class SystemLibrary {
public:
    // LOAD_LIBRARY_SEARCH_SYSTEM32 where the system knows the flag, else by
    // the full path in the system directory.
    static SystemLibrary Load(const wchar_t* fileName);
    // The way of systems without the search flags, open to tests on systems
    // that have them.
    static SystemLibrary LoadByFullPath(const wchar_t* fileName);

    // Whether LoadLibraryEx takes the LOAD_LIBRARY_SEARCH_* flags: Windows 8
    // and later, and Windows 7 with KB2533623. Microsoft's way to tell is
    // whether kernel32 exports AddDllDirectory; without the update
    // LoadLibraryEx fails the flags with ERROR_INVALID_PARAMETER.
    static bool SearchFlagsSupported();

    // For the whole process: every later load by bare name, ours or a
    // system DLL's own (the file dialogs load many), searches the system
    // directory alone. Where the system lacks SetDefaultDllDirectories, the
    // current directory at least leaves the search (SetDllDirectory with an
    // empty string).
    static void RestrictSearchToSystemDirectory();

    SystemLibrary() = default;
    ~SystemLibrary();
    SystemLibrary(SystemLibrary&& other) noexcept;
    SystemLibrary& operator=(SystemLibrary&& other) noexcept;
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    explicit operator bool() const { return m_module != nullptr; }
    HMODULE Get() const { return m_module; }
    // GetLastError of the load that failed; 0 after a load that worked.
    DWORD Error() const { return m_error; }
    // The exported function, or null.
    FARPROC Find(const char* name) const;

private:
    SystemLibrary(HMODULE module, DWORD error) : m_module(module), m_error(error) {}
    static SystemLibrary Loaded(HMODULE module);

    HMODULE m_module = nullptr;
    DWORD m_error = 0;
};
