#pragma once
// The program's one dialog. Its initialisation performs the whole update:
// find and identify the tablet, write the built-in image, read it back,
// compare, report in a message box and end the dialog.

#include "Framework.h"
#include "HidSystem.h"
#include "TabletEeprom.h"
#include "resource.h"

#include <string>

// Posted (never sent) by the dialog to itself, so that no device work is done
// inside WM_DEVICECHANGE.
constexpr UINT WM_TABLET_ARRIVED = WM_USER + 101;
constexpr UINT WM_TABLET_REMOVED = WM_USER + 102;

class CUpdateDlg : public CDialog {
public:
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

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    LRESULT OnDeviceChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnTabletArrived(WPARAM wParam, LPARAM lParam);
    LRESULT OnTabletRemoved(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    void RegisterInterfaceNotification();
    bool IsSupportedTablet();
    void FillPickers();
    bool ImageMatchesDefault() const;
    void EndWithMessage(const char* text, UINT icon, int result);

    HidSystem& m_system;
};
