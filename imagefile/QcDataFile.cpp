#include "QcDataFile.h"

#include "FileReplacement.h"
#include "Win32FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kSection[] = "EEPROM DATA";
constexpr char kKeyPrefix[] = "Value";
constexpr std::size_t kKeyPrefixLength = sizeof(kKeyPrefix) - 1;

// The profile functions resolve a bare file name against the Windows folder,
// not the current one; a full path makes a relative name mean what it says.
bool FullPath(const char* path, std::string& full)
{
    if (path == nullptr || path[0] == '\0')
        return false;
    DWORD needed = ::GetFullPathNameA(path, 0, nullptr, nullptr);
    for (int attempt = 0; attempt < 2 && needed != 0; ++attempt) {
        std::vector<char> buffer(needed);
        const DWORD length = ::GetFullPathNameA(path, needed, buffer.data(), nullptr);
        if (length == 0)
            return false;
        if (length < needed) {
            full.assign(buffer.data(), length);
            return true;
        }
        needed = length; // the current folder changed between the two calls
    }
    return false;
}

void KeyName(unsigned address, char (&key)[16])
{
    std::snprintf(key, sizeof(key), "Value%03u", address);
}

template <typename Char>
Char LowerAscii(Char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Names are matched without regard to the case of ASCII letters, as the
// profile functions match ours.
template <typename Char>
bool EqualsIgnoringCase(const Char* a, std::size_t length, const char* b)
{
    for (std::size_t i = 0; i < length; ++i, ++b) {
        if (*b == '\0' || LowerAscii(a[i]) != static_cast<Char>(LowerAscii(*b)))
            return false;
    }
    return *b == '\0';
}

// The address a key name stands for (Value000..Value255), or -1. Key names
// are matched without regard to case, as the profile functions do;
// "Value7" is not "Value007" to them either.
template <typename Char>
int KeyAddress(const Char* name, std::size_t length)
{
    if (length != kKeyPrefixLength + 3 || !EqualsIgnoringCase(name, kKeyPrefixLength, kKeyPrefix))
        return -1;
    int address = 0;
    for (std::size_t i = kKeyPrefixLength; i < length; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        address = address * 10 + static_cast<int>(name[i] - '0');
    }
    return address < 256 ? address : -1;
}

// A double-null-terminated list from a profile query that returns
// "buffer size - 2" when the list did not fit.
template <typename Query>
std::vector<char> ReadNameList(Query query)
{
    for (DWORD size = 4096; size <= 1u << 24; size *= 4) {
        std::vector<char> buffer(size, '\0');
        if (query(buffer.data(), size) < size - 2)
            return buffer;
    }
    return std::vector<char>(2, '\0');
}

template <typename Visit>
void ForEachName(const std::vector<char>& list, Visit visit)
{
    const char* name = list.data();
    while (*name != '\0') {
        visit(name);
        name += std::char_traits<char>::length(name) + 1;
    }
}

bool HasSection(const std::string& path)
{
    const auto names = ReadNameList([&](char* buffer, DWORD size) {
        return ::GetPrivateProfileSectionNamesA(buffer, size, path.c_str());
    });
    bool found = false;
    ForEachName(names, [&](const char* name) {
        found = found || EqualsIgnoringCase(name, std::char_traits<char>::length(name), kSection);
    });
    return found;
}

// Which of Value000..Value255 the section names.
std::vector<bool> PresentKeys(const std::string& path)
{
    std::vector<bool> present(256, false);
    const auto names = ReadNameList([&](char* buffer, DWORD size) {
        return ::GetPrivateProfileStringA(kSection, nullptr, "", buffer, size, path.c_str());
    });
    ForEachName(names, [&](const char* name) {
        const int address = KeyAddress(name, std::char_traits<char>::length(name));
        if (address >= 0)
            present[static_cast<std::size_t>(address)] = true;
    });
    return present;
}

QcDataFile::LoadResult CheckFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                   ? QcDataFile::LoadResult::FileMissing
                   : QcDataFile::LoadResult::FileUnreadable;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return QcDataFile::LoadResult::FileUnreadable;
    // The profile functions take a file they cannot open for an empty one;
    // open it ourselves to tell the two apart.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QcDataFile::LoadResult::FileUnreadable;
    ::CloseHandle(file);
    return QcDataFile::LoadResult::Valid;
}

// The file's text as code units: UTF-16 where it starts with a UTF-16
// byte-order mark, as the profile functions read it; otherwise its bytes,
// one unit each, so that whatever code page they are in comes back as it
// was. A byte-order mark is kept apart, to be put back in front.
struct FileText {
    enum class Encoding { Bytes, Utf16Le, Utf16Be };
    Encoding encoding = Encoding::Bytes;
    std::string mark;
    std::wstring units;
    std::string oddByte; // a UTF-16 file's last byte that makes no unit
};

FileText Decode(const std::string& bytes)
{
    FileText text;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const bool le = bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    const bool be = bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    if (le || be) {
        text.encoding = le ? FileText::Encoding::Utf16Le : FileText::Encoding::Utf16Be;
        text.mark = bytes.substr(0, 2);
        std::size_t i = 2;
        for (; i + 1 < bytes.size(); i += 2)
            text.units += static_cast<wchar_t>(le ? byte(i) | (byte(i + 1) << 8) : (byte(i) << 8) | byte(i + 1));
        text.oddByte = bytes.substr(i);
        return text;
    }
    std::size_t i = 0;
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        text.mark = bytes.substr(0, 3);
        i = 3;
    }
    for (; i < bytes.size(); ++i)
        text.units += static_cast<wchar_t>(byte(i));
    return text;
}

std::string Encode(const FileText& text)
{
    std::string bytes = text.mark;
    for (wchar_t unit : text.units) {
        const auto value = static_cast<unsigned>(unit) & 0xFFFF;
        switch (text.encoding) {
        case FileText::Encoding::Bytes:
            bytes += static_cast<char>(value);
            break;
        case FileText::Encoding::Utf16Le:
            bytes += static_cast<char>(value & 0xFF);
            bytes += static_cast<char>(value >> 8);
            break;
        case FileText::Encoding::Utf16Be:
            bytes += static_cast<char>(value >> 8);
            bytes += static_cast<char>(value & 0xFF);
            break;
        }
    }
    return bytes + text.oddByte;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// [begin, end) of `text` without the blanks around it.
void Trim(const std::wstring& text, std::size_t& begin, std::size_t& end)
{
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
}

std::wstring KeyLine(const std::wstring& key, BYTE value)
{
    return key + L"=" + std::to_wstring(static_cast<unsigned>(value));
}

// The file's text with every key of the section set to the image, as
// WritePrivateProfileString would leave it key by key: the first key of
// each name takes the new value in its place, keys the section lacks follow
// its last line that is not blank, in ascending order, a file without the
// section gets it at its end, and every other line stays as it was.
std::wstring WithImage(const std::wstring& text, const QcDataFile::Image& image)
{
    std::wstring out;
    std::vector<bool> written(image.size(), false);
    bool inSection = false;
    bool sectionSeen = false;
    std::size_t insertAt = 0; // in `out`: after the section's last line that is not blank
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t newline = text.find(L'\n', begin);
        const std::size_t next = newline == std::wstring::npos ? text.size() : newline + 1;
        std::size_t end = newline == std::wstring::npos ? text.size() : newline;
        if (end > begin && text[end - 1] == L'\r')
            --end;
        std::size_t first = begin;
        std::size_t last = end;
        Trim(text, first, last);
        const std::size_t lineBegin = begin;
        begin = next;

        if (first < last && text[first] == L'[') {
            // The reader takes the name up to the closing bracket, without
            // the blanks inside it; only the first section of the name counts.
            std::size_t nameBegin = first + 1;
            std::size_t nameEnd = std::min(text.find(L']', nameBegin), last);
            Trim(text, nameBegin, nameEnd);
            inSection = !sectionSeen && EqualsIgnoringCase(text.data() + nameBegin, nameEnd - nameBegin, kSection);
            sectionSeen = sectionSeen || inSection;
            out.append(text, lineBegin, next - lineBegin);
            if (inSection)
                insertAt = out.size();
            continue;
        }
        if (inSection && first < last) {
            std::size_t keyEnd = std::min(text.find(L'=', first), last);
            std::size_t keyBegin = first;
            Trim(text, keyBegin, keyEnd);
            const int address = KeyAddress(text.data() + keyBegin, keyEnd - keyBegin);
            if (address >= 0 && !written[static_cast<std::size_t>(address)]) {
                written[static_cast<std::size_t>(address)] = true;
                out += KeyLine(text.substr(keyBegin, keyEnd - keyBegin), image[static_cast<std::size_t>(address)]);
                out.append(text, end, next - end);
            } else {
                out.append(text, lineBegin, next - lineBegin);
            }
            insertAt = out.size();
            continue;
        }
        out.append(text, lineBegin, next - lineBegin);
    }

    std::wstring missing;
    for (std::size_t address = 0; address < image.size(); ++address) {
        if (!written[address]) {
            std::wstring key(kKeyPrefix, kKeyPrefix + kKeyPrefixLength);
            key += static_cast<wchar_t>(L'0' + address / 100);
            key += static_cast<wchar_t>(L'0' + address / 10 % 10);
            key += static_cast<wchar_t>(L'0' + address % 10);
            missing += KeyLine(key, image[address]) + L"\r\n";
        }
    }
    if (!sectionSeen) {
        insertAt = out.size();
        // After a blank line, where the file has lines already.
        missing = (out.empty() ? L"[" : L"\r\n[") + std::wstring(kSection, kSection + sizeof(kSection) - 1) +
                  L"]\r\n" + missing;
    }
    if (insertAt > 0 && out[insertAt - 1] != L'\n' && !missing.empty())
        missing = L"\r\n" + missing;
    out.insert(insertAt, missing);
    return out;
}

} // namespace

bool QcDataFile::ParseValue(const char* text, BYTE& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    unsigned number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > 255)
            return false;
    }
    value = static_cast<BYTE>(number);
    return true;
}

QcDataFile::LoadResult QcDataFile::Load(const char* path, Image& image)
{
    image.fill(0);
    std::string full;
    if (!FullPath(path, full))
        return LoadResult::FileMissing;

    // The bytes are what the profile reader makes of the file, valid or not;
    // the checks below only decide whether they can be trusted.
    std::array<UINT, 256> numbers{};
    for (unsigned address = 0; address < image.size(); ++address) {
        char key[16];
        KeyName(address, key);
        numbers[address] = ::GetPrivateProfileIntA(kSection, key, 0, full.c_str());
        image[address] = static_cast<BYTE>(numbers[address]);
    }

    const LoadResult file = CheckFile(full);
    if (file != LoadResult::Valid)
        return file;
    if (!HasSection(full))
        return LoadResult::SectionMissing;
    const std::vector<bool> present = PresentKeys(full);
    for (bool isPresent : present) {
        if (!isPresent)
            return LoadResult::KeyMissing;
    }

    // A value only counts when its text is a plain byte and the profile
    // reader took the same number from it: "300" would load as 44, "-1" as
    // 255, "12abc" as 12 and "abc" as 0.
    for (unsigned address = 0; address < image.size(); ++address) {
        char key[16];
        KeyName(address, key);
        char text[64] = {};
        const DWORD length = ::GetPrivateProfileStringA(kSection, key, "", text, sizeof(text),
                                                        full.c_str());
        BYTE parsed = 0;
        if (length >= sizeof(text) - 1 || !ParseValue(text, parsed) || numbers[address] != parsed)
            return LoadResult::BadValue;
    }
    return LoadResult::Valid;
}

bool QcDataFile::Save(const char* path, const Image& image, SaveResult* result)
{
    Win32FileSystem files;
    return Save(path, image, files, result);
}

bool QcDataFile::Save(const char* path, const Image& image, FileSystem& files, SaveResult* result)
{
    SaveResult outcome;
    outcome.outcome = Write(path, image, files, outcome);
    if (result != nullptr)
        *result = outcome;
    return outcome.outcome == SaveResult::Outcome::Saved;
}

QcDataFile::SaveResult::Outcome QcDataFile::Write(const char* path, const Image& image, FileSystem& files,
                                                  SaveResult& result)
{
    using Outcome = SaveResult::Outcome;
    std::string full;
    if (!FullPath(path, full))
        return Outcome::Unchanged;
    // The profile functions write one key at a time, in place, each time
    // opening the file by its name again: a failure half way would leave a
    // file that mixes the new image with the old one, and a name opened 256
    // times can be made to lead elsewhere in between. So the file's new text
    // is made here, as those functions would leave it, and replaces the file
    // in one step.
    FileReplacement replacement(files, full);
    const FileReplacement::Result done = replacement.Run([&](const std::string& old) {
        FileText text = Decode(old);
        text.units = WithImage(text.units, image);
        return Encode(text);
    });
    result.error = done.error;
    result.imageFile = done.contentFile;
    result.previousFile = done.previousFile;
    switch (done.outcome) {
    case FileReplacement::Outcome::Replaced:
        return Outcome::Saved;
    case FileReplacement::Outcome::Unchanged:
        return Outcome::Unchanged;
    case FileReplacement::Outcome::ReadOnly:
        return Outcome::ReadOnly;
    case FileReplacement::Outcome::Link:
        return Outcome::Link;
    case FileReplacement::Outcome::FolderRefused:
        return Outcome::FolderRefused;
    case FileReplacement::Outcome::ContentElsewhere:
        return Outcome::ImageElsewhere;
    }
    return Outcome::Unchanged;
}
