#pragma once
// The texts the service panel shows, formatted without any window, so that
// their exact shape can be checked on its own.

#include <windows.h>

#include <string>

namespace PanelText {

// Bytes per dump row and rows in the dump: the dump covers addresses 0x00..0x7F.
constexpr unsigned kDumpRowBytes = 8;
constexpr unsigned kDumpRows = 16;

// A picker entry: the number right-aligned in three columns, then its hex form.
std::string PickerEntry(int number);

// The character shown for one byte: the byte itself from ' ' to 'z', '.' otherwise.
char DumpChar(BYTE byte);

// One dump row: the row's address, each byte in hex and decimal, and the
// bytes as characters. `bytes` holds kDumpRowBytes bytes.
std::string DumpLine(unsigned address, const BYTE* bytes);

} // namespace PanelText
