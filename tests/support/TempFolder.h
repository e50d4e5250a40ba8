#pragma once
// A fresh folder under the system's temporary folder, removed with everything
// it holds when the object ends, so that tests on real files leave nothing
// behind and never see each other's files.

#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The full path of `name` inside the folder; nothing is created.
    std::string File(const std::string& name) const { return m_path + "\\" + name; }
    const std::string& Path() const { return m_path; }
    // Writes `text` as the file `name`, byte for byte; returns its path.
    std::string Write(const std::string& name, const std::string& text) const;
    // Writes `text` to the file at `path`, byte for byte.
    static void WriteTo(const std::string& path, const std::string& text);
    // The names of the files in the folder.
    std::vector<std::string> Files() const;
    // A file's whole content; empty when it cannot be read.
    static std::string Read(const std::string& path);

private:
    static void Remove(const std::string& folder);

    std::string m_path;
};
