#pragma once
// The simulated bus's traffic trace: every device call in order, kept in
// memory for assertions and, when a file is set, written to it line by line
// as it happens, so that a trace survives a program that dies halfway.

#include "SimTraceEntry.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SimTrace {
public:
    void Add(SimTraceEntry entry);
    const std::vector<SimTraceEntry>& Entries() const { return m_entries; }
    void Clear() { m_entries.clear(); }

    // Called with each line as it is added, on the thread that made the call,
    // while the call is still in progress; an empty function stops it.
    void SetObserver(std::function<void(const SimTraceEntry&)> observer) { m_observer = std::move(observer); }

    // Starts a new file (truncating an old one); an empty path stops writing.
    bool SetFile(const std::string& path);

    // Two-digit upper-case hex bytes separated by one blank: "04 08 55 5D".
    static std::string HexBytes(const BYTE* bytes, std::size_t count);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::vector<SimTraceEntry> m_entries;
    std::function<void(const SimTraceEntry&)> m_observer;
    std::unique_ptr<std::FILE, FileCloser> m_file;
};
