#include "PanelText.h"

#include <cstdio>

namespace PanelText {

std::string PickerEntry(int number)
{
    char entry[32];
    std::snprintf(entry, sizeof(entry), "%3d : 0x%02X", number, number);
    return entry;
}

char DumpChar(BYTE byte)
{
    // Taken as a signed byte, so 0x80..0xFF fall below the blank.
    const signed char value = static_cast<signed char>(byte);
    if (value < 0x20 || value > 0x7A)
        return '.';
    return static_cast<char>(value);
}

std::string DumpLine(unsigned address, const BYTE* bytes)
{
    const BYTE* b = bytes;
    char line[160];
    std::snprintf(line, sizeof(line),
                  "%02x : %02X(%03d)  %02X(%03d)  %02X(%03d)  %02X(%03d)  -  "
                  "%02X(%03d)  %02X(%03d)  %02X(%03d)  %02X(%03d)    %c %c %c %c %c %c %c %c",
                  address & 0xFFu, b[0], b[0], b[1], b[1], b[2], b[2], b[3], b[3], b[4], b[4], b[5],
                  b[5], b[6], b[6], b[7], b[7], DumpChar(b[0]), DumpChar(b[1]), DumpChar(b[2]),
                  DumpChar(b[3]), DumpChar(b[4]), DumpChar(b[5]), DumpChar(b[6]), DumpChar(b[7]));
    return line;
}

} // namespace PanelText
