#pragma once
// QC data files: one 256-byte EEPROM image as a Windows profile (INI) file,
// section "EEPROM DATA", keys Value000..Value255, decimal values.

#include <windows.h>

#include <array>
#include <string>

class FileSystem;

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

    // What a save did to the file at the chosen path.
    struct SaveResult {
        enum class Outcome {
            Saved,          // the file holds the image
            Unchanged,      // nothing written: the file is as it was (or still absent)
            ReadOnly,       // refused at once, the file is read-only; it is as it was
            Link,           // refused at once, the name is a symbolic link or junction; nothing changed
            FolderRefused,  // no file could be made in its folder (`error` says why); it is as it was
            ImageElsewhere, // no file has the chosen name now; the image is in `imageFile`
        };
        Outcome outcome = Outcome::Unchanged;
        // FolderRefused only: the error of the attempt to make a file in the
        // folder (ERROR_WRITE_PROTECT, ERROR_ACCESS_DENIED, ...).
        DWORD error = ERROR_SUCCESS;
        // ImageElsewhere only, full paths: the file that holds the image, and
        // where the file that had the chosen name went (empty: it is gone).
        std::string imageFile;
        std::string previousFile;
    };

    // Writes all 256 keys in ascending order; everything else in the file is
    // left alone. The file is replaced only once every key is written: on
    // false it is exactly as it was (or still absent), unless `result` says
    // ImageElsewhere. A target another program holds open for a moment is
    // waited for, about a second at most; a read-only one, and a name that
    // is a link to somewhere else, are refused at once; a replaced target
    // keeps its attributes.
    static bool Save(const char* path, const Image& image, SaveResult* result = nullptr);
    // The same, putting the file in place through `files`.
    static bool Save(const char* path, const Image& image, FileSystem& files, SaveResult* result);

    // Whether `text` (a value as GetPrivateProfileStringA returns it, blanks
    // and outer quotes already removed) is a byte: decimal digits only, no
    // sign, at most 255. Leading zeros are allowed.
    static bool ParseValue(const char* text, BYTE& value);

private:
    static SaveResult::Outcome Write(const char* path, const Image& image, FileSystem& files, SaveResult& result);
};
