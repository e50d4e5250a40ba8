#include "TempFolder.h"

#include <windows.h>

#include <cstdio>
#include <sstream>

TempFolder::TempFolder()
{
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    // Process, time and a serial: two suites running at once, or two folders
    // made within one tick, never share a name.
    static unsigned serial = 0;
    std::ostringstream name;
    name << base << "TabletUpdateTest-" << ::GetCurrentProcessId() << '-' << ::GetTickCount() << '-'
         << ++serial;
    m_path = name.str();
    ::CreateDirectoryA(m_path.c_str(), nullptr);
}

TempFolder::~TempFolder()
{
    Remove(m_path);
}

void TempFolder::Remove(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + "\\" + name;
            // A test may have made a file read-only; DeleteFile refuses those.
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                Remove(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(folder.c_str());
}

std::string TempFolder::Write(const std::string& name, const std::string& text) const
{
    const std::string path = File(name);
    WriteTo(path, text);
    return path;
}

void TempFolder::WriteTo(const std::string& path, const std::string& text)
{
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

std::vector<std::string> TempFolder::Files() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((m_path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return names;
}

std::string TempFolder::Read(const std::string& path)
{
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) != 0;)
            text.append(buffer, got);
        std::fclose(file);
    }
    return text;
}
