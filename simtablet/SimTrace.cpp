#include "SimTrace.h"

void SimTrace::Add(SimTraceEntry entry)
{
    if (m_file) {
        // LF only: the trace is read by scripts on either side of Wine, and
        // a bare LF is what both accept without stripping.
        const std::string line = entry.ToLine() + "\n";
        std::fwrite(line.data(), 1, line.size(), m_file.get());
        std::fflush(m_file.get());
    }
    m_entries.push_back(std::move(entry));
    if (m_observer)
        m_observer(m_entries.back());
}

bool SimTrace::SetFile(const std::string& path)
{
    m_file.reset();
    if (path.empty())
        return true;
    m_file.reset(std::fopen(path.c_str(), "wb"));
    return m_file != nullptr;
}

std::string SimTrace::HexBytes(const BYTE* bytes, std::size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if (bytes == nullptr)
        return text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}
