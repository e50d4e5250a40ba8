#pragma once
// The program's one dialog. Its initialisation performs the whole update:
// find and identify the tablet, write the built-in image, read it back,
// compare, report in a message box and end the dialog. Opened as a service
// station instead, it stays up with its whole panel for an operator.

#include "BurnTally.h"
#include "Framework.h"
#include "HidSystem.h"
#include "StationRecord.h"
#include "TabletEeprom.h"
#include "TabletReturn.h"
#include "UpdateProgress.h"
#include "WriteBurst.h"
#include "resource.h"

#include <string>

// Posted (never sent) by the dialog to itself, so that no device work is done
// inside WM_DEVICECHANGE.
constexpr UINT WM_TABLET_ARRIVED = WM_USER + 101;
constexpr UINT WM_TABLET_REMOVED = WM_USER + 102;
// Posted by the dialog to itself when the session ended (or the program was
// asked to close) during a burst: the program ends once the burst is over.
constexpr UINT WM_SESSION_ENDED = WM_USER + 103;
// Posted by the dialog to itself when the record file refused a line, so
// that the operator is told once the burst that wrote it is over.
constexpr UINT WM_RECORD_TROUBLE = WM_USER + 104;

class CUpdateDlg : public CDialog {
public:
    // The write delay the field accepts, in milliseconds.
    static constexpr int kMinWriteDelayMs = 1;
    static constexpr int kMaxWriteDelayMs = 20;

    explicit CUpdateDlg(HidSystem& system, CWnd* parent = nullptr);
    ~CUpdateDlg() override;

    enum { IDD = IDD_UPDATE_DIALOG };

    DeviceNotification m_hInterfaceNotify;
    CTabletEeprom m_eeprom;
    CButton m_btnExit;
    CButton m_btnSet;
    CComboBox m_cbAddress;
    CComboBox m_cbSetValue;
    CListBox m_lbDump;
    std::string m_strDataRead;
    std::string m_strAutoBurnFile;
    int m_bAutoBurn = FALSE;
    std::string m_strResult;
    int m_bWriteDelay = TRUE;
    int m_nWriteDelay = 10;
    HICON m_hIcon = nullptr;

    // Set before DoModal: the dialog opens as a service station with the
    // whole panel instead of running the one-shot update.
    bool m_bServiceMode = false;
    // Set before DoModal or while it runs: the file dialogs are shown
    // through it; null, the system's own.
    FileDialogSystem* m_pFileDialogs = nullptr;
    // Set before DoModal: the window's and the system's DPI are read through
    // it; null, Windows' own.
    WindowDpiSystem* m_pDpi = nullptr;

    // The character the dump shows for one byte.
    static char DumpChar(BYTE byte);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    // Acts only on the commands ActsOnCommand lets through.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnGet();
    afx_msg void OnSet();
    afx_msg void OnGetAll();
    afx_msg void OnSetAll();
    afx_msg void OnLoad();
    afx_msg void OnSave();
    afx_msg void OnAutoBurn();
    afx_msg void OnWriteDelayChanged();
    afx_msg void OnRecord();
    afx_msg LRESULT OnRecordTrouble(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnDeviceChange(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnTabletArrived(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnTabletRemoved(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnEndSession(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnSessionEnded(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

    // Appends the hex dump of image addresses 0x00..0x7F to the dump list.
    void FillDump();
    // Enables Exit when `enable` is non-zero and gives Set the opposite state.
    void EnableExitButton(BOOL enable);

    DECLARE_MESSAGE_MAP()

private:
    // One-shot update.
    void RegisterInterfaceNotification();
    bool IsSupportedTablet();
    void FillPickers();
    bool ImageMatchesDefault() const;
    // Ends the update's burst, then tells the user and ends the dialog.
    void EndWithMessage(CWriteBurst::Scope& burst, const char* text, UINT icon, int result);
    // Turns the dialog into the update's own window, centred on the screen:
    // one line of text and, when `withBar`, the progress bar.
    void ShowUpdateWindow(const char* line, bool withBar);
    // Places the update window's line and bar; returns the client size they need.
    SIZE LayOutUpdateWindow();
    // Gives the dialog this client size (pixels), centred on the work area
    // of its monitor, or keeping its top-left corner where it is.
    void ResizeCentred(SIZE client);
    void ResizeInPlace(SIZE client);
    // Puts the fields' write delay in force, kept within 0..20 ms.
    void ApplyWriteDelay();

    // Device reactions and exit.
    // True when the device change is an arrival to take up that its
    // classification dropped.
    bool MissedArrival(DWORD eventType, LPARAM eventData, int change);
    // The arrival's steps after Open: access, the burn's verdict, read-back,
    // dump and buttons. `burned`: Open was given the auto-burn file;
    // `stayed`: the tablet is one whose removal was refused.
    void TakeUpOpenedTablet(bool burned, bool stayed);
    bool AutoBurnVerified();
    // The station's sound for a burn's verdict; nothing outside the station.
    void SoundBurn(bool verified);
    void LeaveTablet();
    // For a session that ends, or Restart Manager's request to close: closes
    // the tablet as the dialog's own way out would, and ends the dialog.
    void EndForEndOfSession();
    // Whether a WM_COMMAND comes from where a command may come from.
    bool ActsOnCommand(WPARAM wParam, LPARAM lParam) const;

    // Service panel.
    // The EEPROM address in the address box; false (and the refusal shown in
    // the data-read line) when the box holds a number outside 0..255.
    bool AddressFromBox(bool writing, int& address);
    // Shows the QC data file dialog; true with the chosen full path.
    bool ChooseQcFile(bool open, std::string& path);
    // True when the image holds bytes whose read failed; the operator has
    // then been told that nothing was done.
    bool RefuseUnreadImage(bool saving);
    // True when the burst may not write; it is then over, and the operator
    // has been told why the tablet was not written.
    bool RefuseBurst(CWriteBurst::Scope& burst);
    // Why a burst refused, in the program's words.
    static const char* NotWrittenText(CWriteBurst::Refusal refusal);

    // Service mode.
    void StartServiceMode();
    // The service station's long commands show the one-shot update's line and
    // bar in the panel, counting `transfers`, inside their burst; nothing
    // outside the station.
    void BeginPanelProgress(const CWriteBurst::Scope& burst, const char* line, int transfers);
    void EndPanelProgress();
    // Moves and sizes the template's controls into the station's own frame;
    // returns the client size they need.
    SIZE LayOutStation();
    // Gives the dump a fixed-pitch font, so that its columns line up.
    void SetDumpFont();
    // Counts a burn in the station's tally and shows it; nothing outside the station.
    void CountBurn(bool verified);

    // The station's record.
    // A line for the burn on arrival, Set All and Set, each written where its
    // verdict is known, before it is shown or sounded.
    void RecordBurn(bool verified);
    void RecordSetAll();
    void RecordSet(int address, int value, bool verified);
    // After a line: a refusal is noted on the result line, told once the
    // burst is over, and the waiting lines are tried again on a timer.
    void AfterRecording(bool written);
    // Lines the record file still refuses are saved where the operator says,
    // or knowingly left: on the way out, and when the record is turned off.
    void KeepWaitingRecordLines();
    bool ChooseRecordFile(const char* title, std::string& path);
    void ShowResultLine();

    // Display scale.
    // Takes the window's DPI and the template's font as made for it.
    void TakeDisplayScale();
    // The dialog's font at m_nDpi: the template's as the dialog manager made
    // it, or the one made for a DPI the window moved to.
    HFONT DialogFont() const;
    // Makes the dialog's font (and the dump's) for m_nDpi and gives it to
    // every control; the old ones go once no control holds them.
    void MakeFontsForDpi();

    // The last delay the field held within 1..20 ms, in force while the box
    // is checked and the field holds a refused entry.
    DWORD m_nAcceptedWriteDelay = 10;

    // An arrival that came while an end of session granted could still come;
    // taken up once the session goes on.
    bool m_bArrivalWaiting = false;
    // The verdict shown when the tablet's removal was last asked and granted.
    std::string m_strResultBeforeQuery;

    HidSystem& m_system;
    CTabletReturn m_tabletReturn;
    CBurnTally m_tally;
    CStationRecord m_record;
    bool m_bKeepingRecordLines = false;
    HWND m_hTallyLine = nullptr; // a child of the station, destroyed with it
    // The DPI the dialog is laid out for, and the one the template's font
    // (m_logFontTemplate) was made for.
    UINT m_nDpi = CWindowDpi::kDefault;
    UINT m_nTemplateFontDpi = CWindowDpi::kDefault;
    LOGFONTA m_logFontTemplate{};
    // Outlive the controls, which are destroyed with the dialog's window.
    CFont m_fontDialog; // empty until the window's DPI changes
    CFont m_fontDump;
    // Runs from the decision to make a burst's transfers to its last one:
    // the one-shot update from its identity request to its read-back, "Set",
    // "Set All", and an arrival's burn, verification and dump.
    CWriteBurst m_burst;
    // After m_eeprom, so that it lets go of the eeprom before that goes.
    CUpdateProgress m_progress;
};
