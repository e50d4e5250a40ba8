#include "RecordLine.h"

namespace {

const char* const kColumnNames[CRecordLine::ColumnCount] = {
    "Time",          "Computer",      "User",         "Program version", "Architecture",
    "Operation",     "Address",       "Value",        "Write delay (ms)", "QC file",
    "SHA-256",       "Vendor ID",     "Product ID",   "Version number",  "Firmware",
    "Serial number", "Verdict",       "First wrong address", "Bytes written", "Duration (ms)",
};

template <typename Fields>
std::string Join(const Fields& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i != 0)
            line += ',';
        line += CRecordLine::Quote(fields[i]);
    }
    return line + "\r\n";
}

} // namespace

std::string CRecordLine::Quote(const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// A formula in a device's string would run in the quality engineer's
// spreadsheet (a command through a link, say); as text it only shows.
std::string CRecordLine::AsText(const std::string& text)
{
    if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos)
        return "'" + text;
    return text;
}

std::string CRecordLine::Csv() const
{
    return Join(m_fields);
}

std::string CRecordLine::Header()
{
    std::array<std::string, ColumnCount> names;
    for (std::size_t i = 0; i < ColumnCount; ++i)
        names[i] = kColumnNames[i];
    return Join(names);
}
