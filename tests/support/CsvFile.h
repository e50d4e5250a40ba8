#pragma once
// A CSV file as RFC 4180 reads it, for the tests that read the station's
// record back: a byte-order mark, then records of fields, each record ended
// by CRLF; quoted fields may hold commas, quotes (doubled) and line breaks.

#include <cstddef>
#include <string>
#include <vector>

struct CsvFile {
    using Record = std::vector<std::string>;

    bool byteOrderMark = false;
    std::vector<Record> records;
    // Where the file breaks the rules; empty when it keeps them.
    std::string error;

    // The file at `path` (an unreadable one reads as empty).
    static CsvFile Read(const std::string& path);
    // The field of record `index` under the header's `column` (the first
    // record is the header); empty where either is missing.
    std::string Field(std::size_t index, const std::string& column) const;
};
