#pragma once
// A fresh folder under the temporary folder, removed with the files in it.

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder()
    {
        char base[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, base);
        static unsigned serial = 0;
        std::ostringstream name;
        name << base << "TabletUpdateTest-" << ::GetCurrentProcessId() << '-' << ::GetTickCount() << '-'
             << ++serial;
        m_path = name.str();
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TempFolder()
    {
        for (const std::string& name : Files())
            ::DeleteFileA(File(name).c_str());
        ::RemoveDirectoryA(m_path.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return m_path + "\\" + name; }
    const std::string& Path() const { return m_path; }

    // The names of the files in the folder.
    std::vector<std::string> Files() const
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

    static void Write(const std::string& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string m_path;
};
