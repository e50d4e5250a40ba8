#pragma once
// QC data files: one 256-byte EEPROM image as a Windows profile (INI) file,
// section "EEPROM DATA", keys Value000..Value255, decimal values.

#include <windows.h>

#include <array>

class QcDataFile {
public:
    using Image = std::array<BYTE, 256>;

    enum class LoadResult {
        Valid,          // all 256 keys present, each a decimal number 0..255
        FileMissing,    // no file at the path (or no usable path at all)
        FileUnreadable, // there, but cannot be opened for reading (a folder, locked)
        SectionMissing, // no section "EEPROM DATA"
        KeyMissing,     // at least one of Value000..Value255 is absent
        BadValue,       // at least one value is not a plain number 0..255
    };

    // Fills every byte of `image` the way the profile reader takes the file
    // (a missing key as 0, a value as the low 8 bits of what
    // GetPrivateProfileIntA gives) and tells whether the file was a complete,
    // valid image. Only Valid means `image` is what the file says.
    static LoadResult Load(const char* path, Image& image);

    // Writes all 256 keys in ascending order; everything else in the file is
    // left alone. The file is replaced only once every key is written: on
    // false it is exactly as it was (or still absent). A target another
    // program holds open for a moment is waited for, about a second at most;
    // a replaced target keeps its attributes.
    static bool Save(const char* path, const Image& image);

    // Whether `text` (a value as GetPrivateProfileStringA returns it, blanks
    // and outer quotes already removed) is a byte: decimal digits only, no
    // sign, at most 255. Leading zeros are allowed.
    static bool ParseValue(const char* text, BYTE& value);
};
