#pragma once
// The texts the service panel shows, formatted without any window, so that
// their exact shape can be checked on its own.

#include <windows.h>

#include "QcDataFile.h"

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

// The data-read line after "Get": the byte in hex and decimal.
std::string GetResult(BYTE value);
// The data-read line after "Set": the byte read back and "OK" or "Error".
std::string SetResult(BYTE readBack, bool ok);
// The data-read line when the address box holds no EEPROM address (0..255);
// `writing` tells "Set" from "Get".
std::string AddressRefused(bool writing);

// The station's tally: tablets burned and verified, tablets failed, and the
// last outcome ("OK!" or "Error!!") at its time of day; `lastAt` is null
// before the first burn.
std::string TallyLine(unsigned verified, unsigned failed, bool lastVerified, const SYSTEMTIME* lastAt);

// What was wrong with a QC data file that "Load" loaded all the same, for the
// operator; empty for a complete, valid file.
std::string LoadProblem(QcDataFile::LoadResult result, const std::string& path);
// What "Save" did instead of saving the image as `path`: left the file as
// it was, or left the image in another file, which it names.
std::string SaveFailed(const QcDataFile::SaveResult& result, const std::string& path);
// Why "Set All" or "Save" refused an image that holds bytes whose read failed.
std::string UnreadBytesRefused(bool saving);

} // namespace PanelText
