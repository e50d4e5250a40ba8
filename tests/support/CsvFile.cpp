#include "CsvFile.h"

#include "TempFolder.h"

#include <algorithm>

CsvFile CsvFile::Read(const std::string& path)
{
    CsvFile csv;
    std::string text = TempFolder::Read(path);
    csv.byteOrderMark = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (csv.byteOrderMark)
        text.erase(0, 3);
    Record record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else
                quoted = false;
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(field);
            csv.records.push_back(record);
            record.clear();
            field.clear();
            ++i;
        } else if (c == '"' || c == '\r' || c == '\n') {
            csv.error = "a bare quote, CR or LF at byte " + std::to_string(i);
            return csv;
        } else {
            field += c;
        }
    }
    if (quoted || !field.empty() || !record.empty())
        csv.error = "the file does not end with CRLF";
    return csv;
}

std::string CsvFile::Field(std::size_t index, const std::string& column) const
{
    if (records.empty() || index >= records.size())
        return std::string();
    const Record& header = records[0];
    const auto at = std::find(header.begin(), header.end(), column);
    if (at == header.end())
        return std::string();
    const auto offset = static_cast<std::size_t>(at - header.begin());
    return offset < records[index].size() ? records[index][offset] : std::string();
}
