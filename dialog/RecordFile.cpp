#include "RecordFile.h"

#include "Handle.h"

namespace {

const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// A spreadsheet (or another station appending to the same file) may hold it
// for a moment; a sharing violation is tried again this often, this far
// apart, before the lines are kept waiting.
constexpr int kOpenTries = 3;
constexpr DWORD kOpenRetryMs = 5;

// Append access without write access: Windows then puts every write at the
// end of the file, whatever the file pointer. Read access for the last byte.
// Others may read meanwhile, but not write: a spreadsheet that holds the
// file open denies writing, and the open then fails with a sharing
// violation rather than interleave.
// Write-through rather than FlushFileBuffers: Microsoft documents that a
// write through a handle opened with FILE_FLAG_WRITE_THROUGH (and cached)
// is "flushed to disk without delay", so a line is on the disk once
// WriteFile returns, and a line it wrote whole counts as written. A flush
// after the write would need GENERIC_WRITE, as FlushFileBuffers documents,
// which takes away the append-only access; and a flush that failed after
// the write would leave no sound choice: keeping the line makes a second
// copy, dropping it claims a disk write nobody saw.
HANDLE OpenForAppending(const std::wstring& path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kOpenTries; ++attempt) {
        if (attempt != 0)
            ::Sleep(kOpenRetryMs);
        file = ::CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        const DWORD error = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION))
            break;
    }
    return file;
}

// What goes before the first line: the byte-order mark and the header in a
// file that is new or empty, a line break where the file does not end in
// one. False when the file's end cannot be read.
bool LeadFor(HANDLE file, const std::string& header, std::string& lead)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size))
        return false;
    if (size.QuadPart == 0) {
        lead = kUtf8ByteOrderMark + header;
        return true;
    }
    LARGE_INTEGER last{};
    last.QuadPart = size.QuadPart - 1;
    char byte = 0;
    DWORD read = 0;
    if (!::SetFilePointerEx(file, last, nullptr, FILE_BEGIN) || !::ReadFile(file, &byte, 1, &read, nullptr) ||
        read != 1)
        return false;
    lead = byte == '\n' ? "" : byte == '\r' ? "\n" : "\r\n";
    return true;
}

bool WriteWhole(HANDLE file, const std::string& data)
{
    if (data.size() > MAXDWORD)
        return false;
    DWORD written = 0;
    return ::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

} // namespace

bool CRecordFile::Append(const std::string& line)
{
    m_waiting.push_back(line);
    return WriteWaiting();
}

bool CRecordFile::WriteWaiting()
{
    return WriteLines(m_path, m_waiting);
}

void CRecordFile::DropWaiting(std::size_t count)
{
    const std::size_t dropped = count < m_waiting.size() ? count : m_waiting.size();
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(dropped));
}

bool CRecordFile::SaveWaitingTo(const std::wstring& path)
{
    return WriteLines(path, m_waiting);
}

bool CRecordFile::WriteLines(const std::wstring& path, std::deque<std::string>& lines)
{
    const CHandle file(OpenForAppending(path));
    if (!file.IsValid()) {
        m_nLastError = ::GetLastError();
        return false;
    }
    std::string lead;
    if (!LeadFor(file.Get(), m_header, lead)) {
        m_nLastError = ::GetLastError();
        return false;
    }
    // Each line with one write: the file never holds part of it unless the
    // write itself failed, and then the next write begins on a new line.
    // The lead goes with the first, or alone when there are none.
    std::size_t written = 0;
    bool failed = false;
    if (lines.empty() && !lead.empty())
        failed = !WriteWhole(file.Get(), lead);
    for (; !failed && written < lines.size(); ++written) {
        if (!WriteWhole(file.Get(), written == 0 ? lead + lines[written] : lines[written])) {
            failed = true;
            break;
        }
    }
    m_nLastError = failed ? ::GetLastError() : 0;
    // Every line written whole is on the disk (write-through): it waits no
    // more, whatever became of the next.
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(written));
    return !failed;
}
