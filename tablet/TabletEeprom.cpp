#include "TabletEeprom.h"

#include "DeviceBroadcast.h"
#include "DeviceDiscovery.h"
#include "QcDataFile.h"
#include "TabletProtocol.h"
#include "WaitCursor.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// The largest buffer the class driver takes for a string request, as
// HidD_GetSerialNumberString's documentation gives it (2^12 - 3 bytes), in
// whole UTF-16 characters. A USB string holds at most 126 of them; other
// buses' devices may have longer ones.
constexpr size_t kStringBufferChars = 4093 / sizeof(wchar_t);

bool IsEepromAddress(int address)
{
    return address >= 0 && address < static_cast<int>(TabletProtocol::kEepromSize);
}

} // namespace

CTabletEeprom::CTabletEeprom(HidSystem& system) : m_hHandleNotify(system), m_system(system) {}

CTabletEeprom::~CTabletEeprom()
{
    Close();
}

BOOL CTabletEeprom::Open(HWND owner, const char* qcFile)
{
    m_hOwner = owner;
    m_lastBurn = BurnOutcome::None;
    m_nFirstWrongAddress = -1;
    CWaitCursor wait;
    Close();
    BeginWrite();

    m_pDevice = FindTabletDevice(m_system, TabletProtocol::kVendorId, TabletProtocol::kMatchAny,
                                 TabletProtocol::kUsagePage, TabletProtocol::kUsage);
    if (!m_pDevice)
        return FALSE;

    // A failed registration is not fatal: the tablet still works, only its
    // removal goes unreported until the next Open tries again.
    if (!m_hHandleNotify) {
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof(filter);
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = m_pDevice->handle;
        m_hHandleNotify.Register(m_hOwner, &filter);
    }

    if (qcFile != nullptr && qcFile[0] != '\0')
        BurnOnOpen(qcFile);
    return TRUE;
}

void CTabletEeprom::Close()
{
    m_hHandleNotify.Reset();
    m_pDevice.reset();
    m_bRemovalPending = false;
    m_strSerialNumber.clear();
    m_strFirmware.clear();
}

BYTE CTabletEeprom::GetIndexedString(ULONG index, PVOID buffer, ULONG length)
{
    if (!m_pDevice)
        return 0;
    const BYTE result =
        static_cast<BYTE>(m_system.HidD_GetIndexedString(m_pDevice->handle, index, buffer, length));
    Transferred();
    return result;
}

// FALSE only when a Get Feature was made and failed. With no tablet open no
// request is made and the byte reads as 0, which callers have always relied on.
BOOL CTabletEeprom::ReadByteChecked(int address, BYTE& value)
{
    value = 0;
    if (!IsEepromAddress(address))
        return FALSE;
    if (!m_pDevice)
        return TRUE;

    // The address travels only as the request's length, so the buffer must
    // cover the longest request whatever the device's report length is.
    std::array<BYTE, TabletProtocol::kMaxReadLength> buffer{};
    buffer[0] = TabletProtocol::kReportId;
    const ULONG length = TabletProtocol::ReadRequestLength(static_cast<std::uint8_t>(address));
    const BOOLEAN ok = m_system.HidD_GetFeature(m_pDevice->handle, buffer.data(), length);
    value = buffer[0];
    return ok ? TRUE : FALSE;
}

// A failed read still yields the untouched report id, 4: that is the value
// this call has always given back. ReadAll and VerifyAll know better.
BYTE CTabletEeprom::ReadByte(int address)
{
    BYTE value = 0;
    ReadByteChecked(address, value);
    return value;
}

BYTE CTabletEeprom::WriteByte(int address, BYTE value)
{
    BeginWrite();
    return SendByte(address, value);
}

BYTE CTabletEeprom::SendByte(int address, BYTE value)
{
    if (!IsEepromAddress(address) || !m_pDevice)
        return 0;
    // The class driver sends a Set Feature of the report's defined length; a
    // device whose feature report cannot hold id, code, value and check byte
    // cannot take our writes at all.
    const USHORT length = m_pDevice->caps.FeatureReportByteLength;
    if (length < TabletProtocol::kWriteReportMinLength)
        return 0;
    std::vector<BYTE> report(length);
    TabletProtocol::BuildWriteReport(report.data(), report.size(),
                                     static_cast<std::uint8_t>(address), value);
    const BYTE accepted = static_cast<BYTE>(m_system.HidD_SetFeature(m_pDevice->handle, report.data(), length));
    if (accepted != 0)
        ++m_nWritesAccepted;
    return accepted;
}

BYTE CTabletEeprom::BeginAccess()
{
    if (!m_pDevice)
        return 0;
    BYTE scratch[TabletProtocol::kAccessScratchSize] = {};
    return GetIndexedString(TabletProtocol::kBeginAccessString, scratch,
                            TabletProtocol::kAccessStatedLength);
}

BYTE CTabletEeprom::EndAccess()
{
    if (!m_pDevice)
        return 0;
    BYTE scratch[TabletProtocol::kAccessScratchSize] = {};
    return GetIndexedString(TabletProtocol::kEndAccessString, scratch,
                            TabletProtocol::kAccessStatedLength);
}

// A tablet closed during the burst (a removal query handled while a progress
// display pumps messages) leaves no device for the rest of it: those reads
// count as failed, not as the zeros an absent tablet reads.
void CTabletEeprom::ReadAll()
{
    m_readFailed.reset();
    const bool hadDevice = m_pDevice != nullptr;
    for (int address = 0; address < static_cast<int>(m_image.size()); ++address) {
        BYTE value = 0;
        const bool lost = hadDevice && !m_pDevice;
        m_readFailed[address] = !ReadByteChecked(address, value) || lost;
        m_image[address] = value;
        Transferred();
    }
}

void CTabletEeprom::WriteAll()
{
    BeginWrite();
    SendAll();
}

void CTabletEeprom::SendAll()
{
    for (int address = 0; address < static_cast<int>(m_image.size()); ++address) {
        SendByte(address, m_image[address]);
        PauseAfterWrite();
    }
}

void CTabletEeprom::BeginWrite()
{
    m_nWritesAccepted = 0;
    m_bWriteBeganKnown = m_system.QueryPerformanceCounter(&m_writeBegan) != FALSE;
}

DWORD CTabletEeprom::MillisecondsSinceWriteBegan()
{
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    if (!m_system.QueryPerformanceCounter(&now) || !m_system.QueryPerformanceFrequency(&frequency) ||
        frequency.QuadPart <= 0 || !m_bWriteBeganKnown || now.QuadPart < m_writeBegan.QuadPart)
        return 0;
    const LONGLONG elapsed = now.QuadPart - m_writeBegan.QuadPart;
    // In two parts, so that no product can overflow.
    const LONGLONG ms =
        elapsed / frequency.QuadPart * 1000 + elapsed % frequency.QuadPart * 1000 / frequency.QuadPart;
    return ms > MAXDWORD ? MAXDWORD : static_cast<DWORD>(ms);
}

const std::wstring& CTabletEeprom::SerialNumber()
{
    return CachedText(m_strSerialNumber, [this](PVOID buffer, ULONG bytes) {
        const BOOLEAN ok = m_system.HidD_GetSerialNumberString(m_pDevice->handle, buffer, bytes);
        Transferred();
        return ok != FALSE;
    });
}

const std::wstring& CTabletEeprom::FirmwareText()
{
    return CachedText(m_strFirmware, [this](PVOID buffer, ULONG bytes) {
        return GetIndexedString(TabletProtocol::kFirmwareString, buffer, bytes) != 0;
    });
}

const std::wstring& CTabletEeprom::CachedText(std::wstring& cache,
                                              const std::function<bool(PVOID, ULONG)>& request)
{
    if (!m_pDevice) {
        cache.clear();
        return cache;
    }
    if (cache.empty()) {
        std::vector<wchar_t> text(kStringBufferChars, L'\0');
        if (request(text.data(), static_cast<ULONG>(text.size() * sizeof(wchar_t))))
            cache.assign(text.data(), ::wcsnlen(text.data(), text.size()));
    }
    return cache;
}

// The tablet needs time to commit each byte to its EEPROM, so the pause after
// a write is never shorter than the delay. It is a busy wait on the
// high-resolution counter: the tick count moves in steps of the system
// timer's period (10 to 16 ms; irregularly under Wine), so a pause measured on
// it ends anywhere from almost at once to a whole step late. The observer is
// told inside the pause, whose time it uses; only a paint slower than the
// delay lengthens the pause. No messages are pumped here.
void CTabletEeprom::PauseAfterWrite()
{
    if (m_nWriteDelay == 0) {
        Transferred();
        return;
    }
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    if (!m_system.QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !m_system.QueryPerformanceCounter(&start)) {
        // Windows has had the counter since XP. Should it ever be missing, a
        // pause on the tick count that waits one timer step more is long
        // enough, if not exact.
        const DWORD kTimerStepMs = 16;
        const DWORD begin = m_system.GetTickCount();
        Transferred();
        while (m_system.GetTickCount() - begin < m_nWriteDelay + kTimerStepMs) {
        }
        return;
    }
    // Rounded up, and in two parts so that no product can overflow.
    const LONGLONG delay = m_nWriteDelay;
    const LONGLONG wanted =
        delay / 1000 * frequency.QuadPart + (delay % 1000 * frequency.QuadPart + 999) / 1000;
    Transferred();
    LARGE_INTEGER now = start;
    while (now.QuadPart - start.QuadPart < wanted) {
        if (!m_system.QueryPerformanceCounter(&now))
            break;
    }
}

BOOL CTabletEeprom::VerifyAll()
{
    m_nFirstWrongAddress = -1;
    const bool hadDevice = m_pDevice != nullptr;
    for (int address = 0; address < static_cast<int>(m_image.size()); ++address) {
        if (hadDevice && !m_pDevice) {
            m_nFirstWrongAddress = address;
            return FALSE; // closed mid-way: the rest cannot be verified
        }
        BYTE value = 0;
        // A failed read leaves the report id in the buffer; where the image
        // holds 4 that would pass for a match.
        const BOOL read = ReadByteChecked(address, value);
        Transferred();
        if (!read || value != m_image[address]) {
            m_nFirstWrongAddress = address;
            return FALSE;
        }
    }
    return TRUE;
}

TransferObserver* CTabletEeprom::SetTransferObserver(TransferObserver* observer)
{
    TransferObserver* previous = m_observer;
    m_observer = observer;
    return previous;
}

void CTabletEeprom::Transferred()
{
    if (m_observer != nullptr)
        m_observer->OnTransfer();
}

bool CTabletEeprom::ReadFailedAt(unsigned address) const
{
    return address < m_readFailed.size() && m_readFailed[address];
}

int CTabletEeprom::ClassifyDeviceChange(DWORD eventType, LPARAM eventData)
{
    switch (eventType) {
    case DBT_DEVICEARRIVAL: {
        GUID hidGuid{};
        m_system.HidD_GetHidGuid(&hidGuid);
        // While a tablet is open every arrival is ignored, so the report is
        // not even looked at. So while its removal is being decided: opening
        // it again then would refuse the removal, and its outcome brings the
        // tablet back or looks for one anyway.
        if (m_pDevice || m_bRemovalPending)
            return 0;
        const auto* report = DeviceBroadcast::Interface(eventData);
        if (report == nullptr)
            return 0;
        return std::memcmp(&report->dbcc_classguid, &hidGuid, sizeof(hidGuid)) == 0 ? 1 : 0;
    }
    case DBT_DEVICEQUERYREMOVE:
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE: {
        // Windows documents that it may report a removal as pending without
        // asking first: the tablet is going whatever we answer, so it is
        // taken as gone, as a completed removal is.
        const auto* report = DeviceBroadcast::Handle(eventData);
        return report != nullptr && IsOurHandleReport(*report) ? -1 : 0;
    }
    case DBT_DEVICEQUERYREMOVEFAILED: {
        // Only a tablet closed for a removal query waits for this report;
        // otherwise it is not even looked at.
        if (!m_bRemovalPending)
            return 0;
        const auto* report = DeviceBroadcast::Handle(eventData);
        return report != nullptr && IsOurHandleReport(*report) ? 1 : 0;
    }
    default:
        // Other events may come with no report, or with one of another shape.
        return 0;
    }
}

// By the open handle, or by our registration: once the tablet was closed for
// a removal query its handle value means nothing (Windows may have given it
// to another object since), and the reports that follow are known only by the
// notification they came through.
bool CTabletEeprom::IsOurHandleReport(const DEV_BROADCAST_HANDLE& report) const
{
    if (m_pDevice && m_pDevice->handle != nullptr && m_pDevice->handle == report.dbch_handle)
        return true;
    return m_hHandleNotify && report.dbch_hdevnotify == m_hHandleNotify.Get();
}

void CTabletEeprom::FollowRemoval(DWORD eventType)
{
    switch (eventType) {
    case DBT_DEVICEQUERYREMOVE:
        // Windows refuses the removal while a handle is open once the query
        // is answered. The notification stays: it brings the outcome.
        m_pDevice.reset();
        m_bRemovalPending = true;
        break;
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE:
    case DBT_DEVICEQUERYREMOVEFAILED:
        // The registration has told all it will; the next Open registers a
        // new one for the handle it opens.
        m_hHandleNotify.Reset();
        m_bRemovalPending = false;
        break;
    default:
        break;
    }
}

BOOL CTabletEeprom::LoadImage(const char* path, QcDataFile::LoadResult* outcome)
{
    const QcDataFile::LoadResult result = QcDataFile::Load(path, m_image);
    // The buffer now holds the file's bytes, none of them a failed read.
    m_readFailed.reset();
    if (outcome != nullptr)
        *outcome = result;
    return result == QcDataFile::LoadResult::Valid ? TRUE : FALSE;
}

BOOL CTabletEeprom::SaveImage(const char* path, QcDataFile::SaveResult* outcome)
{
    return QcDataFile::Save(path, m_image, outcome) ? TRUE : FALSE;
}

// Burning a damaged file would silently program zeros or wrapped values into
// the tablet, so only a complete, valid image is sent.
void CTabletEeprom::BurnOnOpen(const char* qcFile)
{
    std::array<BYTE, TabletProtocol::kEepromSize> image{};
    if (QcDataFile::Load(qcFile, image) != QcDataFile::LoadResult::Valid) {
        m_lastBurn = BurnOutcome::Refused;
        return;
    }
    m_image = image;
    m_readFailed.reset();
    BeginAccess();
    SendAll();
    EndAccess();
    m_lastBurn = BurnOutcome::Burned;
}
