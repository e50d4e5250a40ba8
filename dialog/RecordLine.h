#pragma once
// One line of the station's record, as a CSV record (RFC 4180): the fields
// in UTF-8, each quoted where it holds a comma, a quote or a line break, the
// line ended by CRLF.

#include <array>
#include <cstddef>
#include <string>

class CRecordLine {
public:
    enum Column : std::size_t {
        Time,              // local, ISO 8601 with the UTC offset
        Computer,
        User,
        ProgramVersion,
        Architecture,
        Operation,         // "auto-burn", "Set All" or "Set"
        Address,           // Set only, decimal
        Value,             // Set only, decimal, as typed
        WriteDelayMs,
        QcFile,            // full path
        Sha256,            // of the bytes sent
        VendorId,          // the tablet's, "0x" and four hexadecimal digits
        ProductId,
        VersionNumber,
        Firmware,
        SerialNumber,
        Verdict,           // "OK!", "Error!!" or "not verified"
        FirstWrongAddress, // decimal
        BytesWritten,
        DurationMs,
        ColumnCount
    };

    std::string& operator[](Column column) { return m_fields[column]; }
    const std::string& operator[](Column column) const { return m_fields[column]; }

    // The line, CRLF-terminated.
    std::string Csv() const;
    // The header line naming the columns, CRLF-terminated.
    static std::string Header();
    // A field as RFC 4180 writes it: in quotes, its quotes doubled, when it
    // holds a comma, a quote, CR or LF; as it is otherwise.
    static std::string Quote(const std::string& field);
    // A text that came from outside (a device's string, a name) so that a
    // spreadsheet shows it as text: one starting with what a spreadsheet
    // takes for a formula (= + - @, a tab or CR) gets an apostrophe first.
    static std::string AsText(const std::string& text);

private:
    std::array<std::string, ColumnCount> m_fields;
};
