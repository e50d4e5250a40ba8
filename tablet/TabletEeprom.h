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
#include "TransferObserver.h"

#include <array>
#include <bitset>
#include <memory>

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
    BYTE WriteByte(int address, BYTE value);
    BYTE BeginAccess();
    BYTE EndAccess();
    void ReadAll();
    void WriteAll();
    BOOL VerifyAll();
    // Whether the Get Feature for `address` failed during the last ReadAll
    // (ReadByte then returned the report id, 4, which is not tablet data).
    bool ReadFailedAt(unsigned address) const;
    // Who is told of each transfer from now on (null: nobody). The observer
    // must outlive its setting; returns the one set before.
    TransferObserver* SetTransferObserver(TransferObserver* observer);

    // Device changes: 1 = a HID interface arrived while no tablet is open,
    // -1 = the open tablet is going away, 0 = nothing to do.
    int ClassifyDeviceChange(DWORD eventType, LPARAM eventData);

    // QC data files. LoadImage loads whatever the file holds (missing keys as
    // 0, values as their low 8 bits) and returns TRUE only for a complete,
    // valid image; SaveImage returns TRUE only when every key was written.
    BOOL LoadImage(const char* path);
    BOOL SaveImage(const char* path);

    HWND m_hOwner = nullptr;
    std::array<BYTE, 256> m_image{};
    DeviceNotification m_hHandleNotify;
    std::unique_ptr<HidDeviceRecord> m_pDevice;
    DWORD m_nWriteDelay = 0;

private:
    BOOL ReadByteChecked(int address, BYTE& value);
    void PauseAfterWrite();
    void Transferred();
    void BurnOnOpen(const char* qcFile);

    HidSystem& m_system;
    std::bitset<256> m_readFailed;
    BurnOutcome m_lastBurn = BurnOutcome::None;
    TransferObserver* m_observer = nullptr;
};
