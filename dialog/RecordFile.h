#pragma once
// A CSV file that lines are appended to and never lost.
//
// Each line goes into the file whole, with one write, on a handle opened for
// appending only while lines are written, and is on the disk (written
// through) before the call returns; so a quality engineer may open the file
// in a spreadsheet at any time, and a process that ends at any moment leaves
// every earlier line whole. A file that is new or empty first gets the
// byte-order mark and the header line; one that does not end in a line
// break (a line cut short) gets one before the next line. Lines the file
// does not take (it is held open without sharing, its folder is gone, the
// disk is full) wait, in order, and go first when it takes lines again.

#include <windows.h>

#include <cstddef>
#include <deque>
#include <string>
#include <utility>

class CRecordFile {
public:
    // `header`: the header line, CRLF-terminated.
    explicit CRecordFile(std::string header) : m_header(std::move(header)) {}

    // The file lines go to from now on; the lines waiting stay.
    void SetPath(const std::wstring& path) { m_path = path; }
    const std::wstring& Path() const { return m_path; }

    // Queues `line` (CRLF-terminated) after the waiting ones and writes all
    // the file takes. True when nothing waits any more.
    bool Append(const std::string& line);
    // Writes the waiting lines; true when none waits any more. With none
    // waiting it makes sure the file exists with its header, and says
    // whether it can be written.
    bool WriteWaiting();
    std::size_t Waiting() const { return m_waiting.size(); }
    // Why the last attempt failed (a Windows error code); 0 after success.
    DWORD LastError() const { return m_nLastError; }

    // Writes the waiting lines into another file instead (appended to it, as
    // to the record); true when they all went there and wait no more.
    bool SaveWaitingTo(const std::wstring& path);
    // Drops the first `count` lines waiting (the oldest).
    void DropWaiting(std::size_t count);

private:
    // Appends the lines at the front of `lines` to the file at `path`,
    // removing each one once it is on the disk; false, with the error, when
    // any is left.
    bool WriteLines(const std::wstring& path, std::deque<std::string>& lines);

    std::string m_header;
    std::wstring m_path;
    std::deque<std::string> m_waiting;
    DWORD m_nLastError = 0;
};
