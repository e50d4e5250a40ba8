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

std::string GetResult(BYTE value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "0x%02X,  %d    ", value, value);
    return text;
}

std::string SetResult(BYTE readBack, bool ok)
{
    char text[40];
    std::snprintf(text, sizeof(text), "0x%02X,  %d    %s", readBack, readBack, ok ? "OK" : "Error");
    return text;
}

std::string AddressRefused(bool writing)
{
    return writing ? "Address not 0..255: nothing written" : "Address not 0..255: nothing read";
}

std::string TallyLine(unsigned verified, unsigned failed, bool lastVerified, const SYSTEMTIME* lastAt)
{
    char text[96];
    int length = std::snprintf(text, sizeof(text), "Burned and verified: %u   Failed: %u", verified, failed);
    if (lastAt != nullptr && length > 0 && static_cast<size_t>(length) < sizeof(text)) {
        std::snprintf(text + length, sizeof(text) - static_cast<size_t>(length), "   Last: %s at %02u:%02u:%02u",
                      lastVerified ? "OK!" : "Error!!", lastAt->wHour % 24u, lastAt->wMinute % 60u,
                      lastAt->wSecond % 60u);
    }
    return text;
}

std::string LoadProblem(QcDataFile::LoadResult result, const std::string& path)
{
    const char* what = nullptr;
    switch (result) {
    case QcDataFile::LoadResult::Valid:
        return std::string();
    case QcDataFile::LoadResult::FileMissing:
        what = "There is no such file.";
        break;
    case QcDataFile::LoadResult::FileUnreadable:
        what = "The file cannot be read.";
        break;
    case QcDataFile::LoadResult::SectionMissing:
        what = "The file has no [EEPROM DATA] section.";
        break;
    case QcDataFile::LoadResult::KeyMissing:
        what = "Some of the keys Value000 to Value255 are missing.";
        break;
    case QcDataFile::LoadResult::BadValue:
        what = "Some values are not whole numbers from 0 to 255.";
        break;
    }
    if (what == nullptr)
        what = "The file is not a valid QC data file.";
    return std::string("The file is not a complete QC data file:\n") + path + "\n\n" + what +
           "\n\nMissing bytes were loaded as 0 and bad values as they were read. "
           "Do not burn this image unless that is what you want.";
}

std::string SaveFailed(const QcDataFile::SaveResult& result, const std::string& path)
{
    using Outcome = QcDataFile::SaveResult::Outcome;
    switch (result.outcome) {
    case Outcome::ReadOnly:
        return "The file was not saved:\n" + path + "\n\nThe file is read-only. It is unchanged.";
    case Outcome::Link:
        return "The file was not saved:\n" + path +
               "\n\nThat name is a link to another file or folder, and saving through it could change a "
               "file you did not choose. Nothing was changed. Save under another name.";
    case Outcome::FolderRefused:
        // The save writes a new file beside the chosen one first, so these
        // say what keeps it from the folder, not from the file.
        if (result.error == ERROR_WRITE_PROTECT)
            return "The file was not saved:\n" + path +
                   "\n\nThe disk is write-protected (a card or stick may have a lock switch). "
                   "The file is unchanged.";
        if (result.error == ERROR_ACCESS_DENIED)
            return "The file was not saved:\n" + path +
                   "\n\nYou may not create files in that folder. The file is unchanged. "
                   "Save it in a folder of your own.";
        break;
    case Outcome::ImageElsewhere:
        // The save failed half way: say where each file is, so that nothing
        // is thrown away as a leftover.
        return "The file was not saved:\n" + path +
               "\n\nThe file of that name does not hold the image. The image was saved in this file "
               "instead:\n" +
               result.imageFile +
               (result.previousFile.empty()
                    ? std::string("\n\nThe file that had the name before is gone.")
                    : "\n\nThe file that had the name before is now:\n" + result.previousFile) +
               "\n\nRename the files as you need them.";
    case Outcome::Saved:
    case Outcome::Unchanged:
        break;
    }
    // Anything else, a missing folder among them: say what may be wrong.
    return "The file was not saved:\n" + path +
           "\n\nIt could not be written completely (is it open in another program, "
           "or is the folder missing?). The file is unchanged.";
}

std::string UnreadBytesRefused(bool saving)
{
    return std::string("Some bytes of the image could not be read from the tablet, so the image "
                       "does not hold what the tablet holds.\n\n") +
           (saving ? "Nothing was saved." : "Nothing was written to the tablet.") +
           " Use \"Get All\" again or \"Load\" a file first.";
}

} // namespace PanelText
