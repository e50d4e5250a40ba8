#include "SystemLibrary.h"

#include <string>
#include <utility>

namespace {

// Flags older headers may lack; values from libloaderapi.h.
constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

FARPROC Kernel32Function(const char* name)
{
    // kernel32 is in every process, so this loads nothing.
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 != nullptr ? ::GetProcAddress(kernel32, name) : nullptr;
}

std::wstring SystemDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = ::GetSystemDirectoryW(&path[0], static_cast<UINT>(path.size()));
        if (length == 0)
            return std::wstring();
        // Too small a buffer: the answer is the size needed, terminator included.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

} // namespace

SystemLibrary SystemLibrary::Load(const wchar_t* fileName)
{
    if (!SearchFlagsSupported())
        return LoadByFullPath(fileName);
    return Loaded(::LoadLibraryExW(fileName, nullptr, kSearchSystem32));
}

SystemLibrary SystemLibrary::LoadByFullPath(const wchar_t* fileName)
{
    const std::wstring directory = SystemDirectory();
    if (directory.empty())
        return SystemLibrary(nullptr, ::GetLastError());
    const std::wstring path = directory + L"\\" + fileName;
    // With a full path, LOAD_WITH_ALTERED_SEARCH_PATH makes the DLL's own
    // imports searched from its folder (the system directory) first, instead
    // of from the program's folder.
    return Loaded(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

bool SystemLibrary::SearchFlagsSupported()
{
    return Kernel32Function("AddDllDirectory") != nullptr;
}

void SystemLibrary::RestrictSearchToSystemDirectory()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Kernel32Function("SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(kSearchSystem32))
        return;
    ::SetDllDirectoryW(L"");
}

SystemLibrary SystemLibrary::Loaded(HMODULE module)
{
    return SystemLibrary(module, module != nullptr ? 0 : ::GetLastError());
}

SystemLibrary::~SystemLibrary()
{
    if (m_module != nullptr)
        ::FreeLibrary(m_module);
}

SystemLibrary::SystemLibrary(SystemLibrary&& other) noexcept
    : m_module(std::exchange(other.m_module, nullptr)), m_error(other.m_error)
{
}

SystemLibrary& SystemLibrary::operator=(SystemLibrary&& other) noexcept
{
    if (this != &other) {
        if (m_module != nullptr)
            ::FreeLibrary(m_module);
        m_module = std::exchange(other.m_module, nullptr);
        m_error = other.m_error;
    }
    return *this;
}

FARPROC SystemLibrary::Find(const char* name) const
{
    return m_module != nullptr ? ::GetProcAddress(m_module, name) : nullptr;
}
