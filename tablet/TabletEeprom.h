#pragma once
// The tablet's 256-byte EEPROM behind the HID class driver: opening and
// closing the tablet, moving bytes between it and the image buffer, the access
// requests, device-change classification and QC data files.
//
// Everything reports success as non-zero and nothing throws. With no tablet
// open the single-byte operations and access requests return 0 untouched.

#include "DeviceNotification.h"
#include "HidDeviceRecord.h"
#include "HidSystem.h"
#include "QcDataFile.h"
#include "TabletProtocol.h"
#include "TransferObserver.h"

#include <array>
#include <bitset>
#include <functional>
#include <memory>
#include <string>

class CTabletEeprom {
public:
    enum class BurnOutcome {
        None,    // Open was given no file
        Burned,  // the file was loaded and sent: access begin, 256 writes, access end
        Refused, // the file was not a complete, valid image: nothing was sent
    };

    explicit CTabletEeprom(HidSystem& system);
    ~CTabletEeprom();
    CTabletEeprom(const CTabletEeprom&) = delete;
    CTabletEeprom& operator=(const CTabletEeprom&) = delete;

    // Discovery and lifetime.
    BOOL Open(HWND owner, const char* qcFile);
    void Close();
    BYTE GetIndexedString(ULONG index, PVOID buffer, ULONG length);
    BurnOutcome LastBurn() const { return m_lastBurn; }

    // Transfers.
    BYTE ReadByte(int address);
    // ReadByte that tells a failed Get Feature (FALSE; `value` then holds the
    // report id, 4, which is not tablet data). No tablet: TRUE and 0.
    BOOL ReadByteChecked(int address, BYTE& value);
    BYTE WriteByte(int address, BYTE value);
    BYTE BeginAccess();
    BYTE EndAccess();
    void ReadAll();
    void WriteAll();
    BOOL VerifyAll();
    // Whether the Get Feature for `address` failed during the last ReadAll
    // (ReadByte then returned the report id, 4, which is not tablet data).
    bool ReadFailedAt(unsigned address) const;
    // Whether the image buffer still holds a byte whose read failed: true
    // from a ReadAll with a failed Get Feature until the next ReadAll,
    // LoadImage or burn replaces the buffer.
    bool AnyReadFailed() const { return m_readFailed.any(); }

    // What the last write did, for the station's record. A write begins with
    // WriteByte, WriteAll or a burn on Open (which also begins with Open
    // itself, burning or not).
    // The Set Feature requests the class driver accepted since it began.
    unsigned WritesAccepted() const { return m_nWritesAccepted; }
    // Milliseconds since it began, on the high-resolution counter.
    DWORD MillisecondsSinceWriteBegan();
    // The first address the last VerifyAll found different or could not
    // read; -1 when it found none (or none was made since Open).
    int FirstWrongAddress() const { return m_nFirstWrongAddress; }

    // The open tablet's own texts, asked once per tablet opened (a request
    // that fails is asked again next time): its USB serial number string,
    // and the firmware identity (string 98) the update's identity check
    // reads. Empty with no tablet, or when the tablet has none.
    const std::wstring& SerialNumber();
    const std::wstring& FirmwareText();

    // Who is told of each transfer from now on (null: nobody). The observer
    // must outlive its setting; returns the one set before.
    TransferObserver* SetTransferObserver(TransferObserver* observer);

    // How often the observer hears from each operation, for a display that
    // counts them: once per string request (GetIndexedString, BeginAccess,
    // EndAccess); once per address for ReadAll and WriteAll, and at most that
    // for VerifyAll, which stops at the first difference; and a burn on Open
    // is a WriteAll between two access requests. With no tablet open the
    // whole-image operations still report every address, the others nothing.
    static constexpr int kStringRequestTransfers = 1;
    static constexpr int kWholeImageTransfers = static_cast<int>(TabletProtocol::kEepromSize);
    static constexpr int kBurnTransfers = 2 * kStringRequestTransfers + kWholeImageTransfers;

    // The open tablet across removal reports, as ClassifyDeviceChange,
    // FollowRemoval and Close move it:
    //
    //   closed      no device, no handle notification.
    //   open        m_pDevice and its handle notification; reports about it
    //               are known by the handle or by the notification.
    //   pending     closed for a removal query that was granted, while the
    //               handle notification stays registered: Windows reports
    //               the outcome through it (RemovalPending() is true).
    //               Arrivals are ignored meanwhile.
    //
    //   closed  --Open-->  open
    //   open    --query granted (FollowRemoval)-->  pending
    //   open    --query refused by the dialog-->  open (nothing changes)
    //   open    --removal complete-->  its notification released at once
    //               (FollowRemoval); closed when the dialog handles the
    //               removal it posted (Close)
    //   pending --removal complete-->  closed (notification released)
    //   pending --removal failed-->  closed, then reopened by the arrival
    //                                ClassifyDeviceChange reports (1)
    //   any     --Close-->  closed
    //
    // Device changes: 1 = a HID interface arrived while no tablet is open, or
    // the removal of our tablet was refused and it is there to reopen; -1 =
    // the open tablet is going away; 0 = nothing to do. A report about the
    // tablet is recognised by its handle or by the handle notification it
    // came through. Changes nothing and sends nothing to the device.
    int ClassifyDeviceChange(DWORD eventType, LPARAM eventData);
    // Keeps Windows' removal protocol for a report ClassifyDeviceChange found
    // to be about our tablet, without any device I/O: on a removal query the
    // device is closed (so the query can be granted) while its notification
    // stays registered; on the completed or failed removal the notification
    // is released.
    void FollowRemoval(DWORD eventType);
    // Closed for a removal query whose outcome has not been reported yet.
    bool RemovalPending() const { return m_bRemovalPending; }

    // QC data files. LoadImage loads whatever the file holds (missing keys as
    // 0, values as their low 8 bits) and returns TRUE only for a complete,
    // valid image (`outcome`, if given, says what was wrong); SaveImage
    // returns TRUE only when the file holds the image (`outcome`, if given,
    // says where it is otherwise).
    BOOL LoadImage(const char* path, QcDataFile::LoadResult* outcome = nullptr);
    BOOL SaveImage(const char* path, QcDataFile::SaveResult* outcome = nullptr);

    HWND m_hOwner = nullptr;
    std::array<BYTE, 256> m_image{};
    DeviceNotification m_hHandleNotify;
    std::unique_ptr<HidDeviceRecord> m_pDevice;
    DWORD m_nWriteDelay = 0;

private:
    // `cache`, read with `request` (a buffer, its length in bytes) unless it
    // holds the text already; emptied while no tablet is open.
    const std::wstring& CachedText(std::wstring& cache, const std::function<bool(PVOID, ULONG)>& request);
    void BeginWrite();
    BYTE SendByte(int address, BYTE value);
    void SendAll();
    void PauseAfterWrite();
    void Transferred();
    void BurnOnOpen(const char* qcFile);

    bool IsOurHandleReport(const DEV_BROADCAST_HANDLE& report) const;

    HidSystem& m_system;
    bool m_bRemovalPending = false;
    std::bitset<256> m_readFailed;
    BurnOutcome m_lastBurn = BurnOutcome::None;
    TransferObserver* m_observer = nullptr;
    unsigned m_nWritesAccepted = 0;
    LARGE_INTEGER m_writeBegan{};
    bool m_bWriteBeganKnown = false;
    int m_nFirstWrongAddress = -1;
    // Filled once read from the tablet open now; emptied by Close.
    std::wstring m_strSerialNumber;
    std::wstring m_strFirmware;
};
