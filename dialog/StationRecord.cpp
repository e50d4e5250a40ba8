#include "StationRecord.h"

#include "RecordLine.h"
#include "Sha256.h"
#include "Version.h"

#include <cstdio>
#include <cstring>

namespace {

#if defined(_M_X64) || defined(__x86_64__)
const char kArchitecture[] = "x64";
#elif defined(_M_IX86) || defined(__i386__)
const char kArchitecture[] = "x86";
#elif defined(_M_ARM64) || defined(__aarch64__)
const char kArchitecture[] = "arm64";
#else
const char kArchitecture[] = "";
#endif

const char kNote[] = "not recorded yet";
const char kNoteGap[] = "  ";

std::wstring FromCodePage(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int count = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    if (wide.empty())
        return std::string();
    const int count =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (count <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(count), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], count, nullptr, nullptr);
    return text;
}

// The program's paths are in the ANSI code page (UTF-8 where the manifest's
// code page is in force); the record holds UTF-8 whatever the system's.
std::string Utf8FromAnsi(const std::string& text)
{
    return Utf8(FromCodePage(text, CP_ACP));
}

// The time now, local, in ISO 8601 with its offset from UTC:
// 2024-05-06T14:03:07+02:00. FileTimeToLocalFileTime applies the zone's
// offset in force now, daylight saving included, which is what "now" needs.
std::string LocalTimeNow()
{
    FILETIME utc{};
    ::GetSystemTimeAsFileTime(&utc);
    FILETIME local{};
    SYSTEMTIME at{};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &at))
        return std::string();
    ULARGE_INTEGER u{};
    u.LowPart = utc.dwLowDateTime;
    u.HighPart = utc.dwHighDateTime;
    ULARGE_INTEGER l{};
    l.LowPart = local.dwLowDateTime;
    l.HighPart = local.dwHighDateTime;
    // 100-ns units; offsets are whole minutes.
    const LONGLONG offsetMinutes =
        (static_cast<LONGLONG>(l.QuadPart) - static_cast<LONGLONG>(u.QuadPart)) / 600000000LL;
    const LONGLONG magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[40];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u%c%02d:%02d", at.wYear, at.wMonth, at.wDay,
                  at.wHour, at.wMinute, at.wSecond, offsetMinutes < 0 ? '-' : '+',
                  static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60));
    return text;
}

std::string ComputerName()
{
    wchar_t name[256] = {};
    DWORD size = static_cast<DWORD>(sizeof(name) / sizeof(name[0]));
    if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return Utf8(name);
    size = static_cast<DWORD>(sizeof(name) / sizeof(name[0]));
    return ::GetComputerNameW(name, &size) ? Utf8(name) : std::string();
}

std::string UserName()
{
    wchar_t name[257] = {}; // UNLEN + 1
    DWORD size = static_cast<DWORD>(sizeof(name) / sizeof(name[0]));
    return ::GetUserNameW(name, &size) ? Utf8(name) : std::string();
}

std::string Hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", value & 0xFFFFu);
    return text;
}

} // namespace

CStationRecord::CStationRecord() : m_file(CRecordLine::Header()) {}

bool CStationRecord::Start(const std::string& path)
{
    if (m_strComputer.empty())
        m_strComputer = ComputerName();
    if (m_strUser.empty())
        m_strUser = UserName();
    m_strPath = path;
    m_file.SetPath(FromCodePage(path, CP_ACP));
    m_bOn = true;
    m_bTold = false;
    // Now, as the file is chosen, rather than inside the first burn.
    Sha256::Prepare();
    return m_file.WriteWaiting();
}

void CStationRecord::Stop()
{
    m_file.DropWaiting(m_file.Waiting());
    m_file.SetPath(std::wstring());
    m_strPath.clear();
    m_bOn = false;
    m_bTold = false;
}

bool CStationRecord::Record(const Operation& operation, CTabletEeprom& eeprom)
{
    if (!m_bOn)
        return true;
    using C = CRecordLine;
    CRecordLine line;
    line[C::Time] = LocalTimeNow();
    line[C::Computer] = C::AsText(m_strComputer);
    line[C::User] = C::AsText(m_strUser);
    line[C::ProgramVersion] = TABLETUPDATE_VERSION_TEXT;
    line[C::Architecture] = kArchitecture;
    line[C::Operation] = operation.name;
    if (operation.byteAddressed) {
        line[C::Address] = std::to_string(operation.address);
        line[C::Value] = std::to_string(operation.value);
    }
    line[C::WriteDelayMs] = std::to_string(eeprom.m_nWriteDelay);
    line[C::QcFile] = C::AsText(Utf8FromAnsi(operation.qcFile));
    if (operation.sent != nullptr)
        line[C::Sha256] = Sha256::Hex(operation.sent, operation.sentSize);
    if (eeprom.m_pDevice) {
        const HIDD_ATTRIBUTES& attributes = eeprom.m_pDevice->attributes;
        line[C::VendorId] = Hex4(attributes.VendorID);
        line[C::ProductId] = Hex4(attributes.ProductID);
        line[C::VersionNumber] = Hex4(attributes.VersionNumber);
        line[C::Firmware] = C::AsText(Utf8(eeprom.FirmwareText()));
        line[C::SerialNumber] = C::AsText(Utf8(eeprom.SerialNumber()));
    }
    line[C::Verdict] = operation.verdict;
    if (operation.firstWrongAddress >= 0)
        line[C::FirstWrongAddress] = std::to_string(operation.firstWrongAddress);
    line[C::BytesWritten] = std::to_string(eeprom.WritesAccepted());
    line[C::DurationMs] = std::to_string(eeprom.MillisecondsSinceWriteBegan());
    return Settled(m_file.Append(line.Csv()));
}

// Once the file takes lines again, a later refusal is news to tell.
bool CStationRecord::Settled(bool written)
{
    if (written)
        m_bTold = false;
    return written;
}

bool CStationRecord::WriteWaiting()
{
    return !m_bOn || Settled(m_file.WriteWaiting());
}

bool CStationRecord::SaveWaitingTo(const std::string& path)
{
    return m_file.SaveWaitingTo(FromCodePage(path, CP_ACP));
}

bool CStationRecord::SaveWaitingForLater()
{
    if (!m_bOn || m_file.Waiting() == 0)
        return true;
    wchar_t base[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const std::wstring folder = std::wstring(base) + L"\\TabletUpdate";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char name[64] = {};
    std::snprintf(name, sizeof(name), "\\record-waiting-%04u%02u%02u-%02u%02u%02u.csv", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    // The name is ASCII.
    return m_file.SaveWaitingTo(folder + std::wstring(name, name + std::strlen(name)));
}

bool CStationRecord::TakeTroubleToTell()
{
    if (!Troubled() || m_bTold)
        return false;
    m_bTold = true;
    return true;
}

std::string CStationRecord::Reason() const
{
    const DWORD error = m_file.LastError();
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "Another program has the file open and does not let it be written (a spreadsheet, say).";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "The disk is full.";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
    case ERROR_NETWORK_UNREACHABLE:
        return "Its folder cannot be reached (a network share that is gone, a drive that was removed).";
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return "Writing there is not allowed.";
    default:
        return "Windows error " + std::to_string(error) + ".";
    }
}

std::string CStationRecord::TroubleText() const
{
    return "The record file cannot be written:\n" + m_strPath + "\n\n" + Reason() +
           "\n\nThe station keeps the lines and writes them as soon as the file takes them again. "
           "Leaving the station before then asks where to save them.";
}

std::string CStationRecord::SaveFailedText(const std::string& path) const
{
    return "The record's waiting lines could not be saved in\n" + path + "\n\n" + Reason() +
           "\n\nChoose another file.";
}

std::string CStationRecord::WithNote(const std::string& result)
{
    const std::string bare = WithoutNote(result);
    return bare.empty() ? kNote : bare + kNoteGap + kNote;
}

std::string CStationRecord::WithoutNote(const std::string& result)
{
    const std::string note = std::string(kNoteGap) + kNote;
    if (result == kNote)
        return std::string();
    if (result.size() >= note.size() && result.compare(result.size() - note.size(), note.size(), note) == 0)
        return result.substr(0, result.size() - note.size());
    return result;
}

void CStationRecord::ImageLoaded(const std::string& path, const BYTE* image, std::size_t size)
{
    m_strLoadedFile = path;
    m_loadedImage.assign(image, image + size);
}

std::string CStationRecord::LoadedFileFor(const BYTE* image, std::size_t size) const
{
    if (m_strLoadedFile.empty() || size != m_loadedImage.size() ||
        std::memcmp(image, m_loadedImage.data(), size) != 0)
        return std::string();
    return m_strLoadedFile;
}
