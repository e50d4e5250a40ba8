// The dialog's reactions to the tablet coming and going, its exit, the hex
// dump and the icon while minimised.

#include "UpdateDlg.h"

#include "PanelText.h"

namespace {

const char kBurnVerified[] = "OK!";
const char kBurnFailed[] = "Error!!";
const char kBurningLine[] = "Burning the file into the tablet. Do not unplug it.";
const char kReadingLine[] = "Reading the tablet.";

} // namespace

LRESULT CUpdateDlg::OnDeviceChange(WPARAM wParam, LPARAM lParam)
{
    const DWORD event = static_cast<DWORD>(wParam);
    const int change = m_eeprom.ClassifyDeviceChange(event, lParam);
    const bool missedArrival = MissedArrival(event, lParam, change);
    if (change == -1)
        ::PostMessageA(m_hWnd, WM_TABLET_REMOVED, 0, 0);
    else if (change == 1 || missedArrival)
        ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
    // A removal query is granted by closing the tablet before answering (no
    // device I/O, so the answer never waits on the device); its notification
    // stays to hear whether the removal went through.
    if (change != 0)
        m_eeprom.FollowRemoval(event);
    // Never BROADCAST_QUERY_DENY: a removal query is always granted.
    return 0;
}

LRESULT CUpdateDlg::OnTabletArrived(WPARAM, LPARAM)
{
    // Opening the tablet while its removal is being decided would refuse
    // the removal; the outcome brings it back or looks for one.
    if (m_eeprom.RemovalPending())
        return 0;
    m_lbDump.ResetContent();
    const bool autoBurn = BurnsOnArrival();
    // The burn (two access requests and 256 writes), the verification and
    // the dump's reads (256 each at most), and the access request between.
    BeginPanelProgress(autoBurn ? kBurningLine : kReadingLine, autoBurn ? 2 + 256 + 1 + 512 : 1 + 256);
    m_eeprom.Open(m_hWnd, autoBurn ? m_strAutoBurnFile.c_str() : nullptr);
    TakeUpOpenedTablet(autoBurn);
    EndPanelProgress();
    return 0;
}

// Every change is heard, so that a completed removal and a refused one are
// known when the arrivals after them come.
bool CUpdateDlg::MissedArrival(DWORD eventType, LPARAM eventData, int change)
{
    GUID hidGuid{};
    m_system.HidD_GetHidGuid(&hidGuid);
    const bool missed = m_tabletReturn.Heard(eventType, eventData, change, hidGuid);
    return change == 0 && missed;
}

// Auto-burn checked with its file dialog still open has no file yet: that
// arrival opens the tablet without burning, as an empty path always meant.
bool CUpdateDlg::BurnsOnArrival()
{
    const bool stayed = m_tabletReturn.TakeStayed();
    return m_bAutoBurn != FALSE && !m_strAutoBurnFile.empty() && !stayed;
}

void CUpdateDlg::TakeUpOpenedTablet(bool burned)
{
    m_eeprom.BeginAccess();
    if (burned) {
        const bool verified = AutoBurnVerified();
        m_strResult = verified ? kBurnVerified : kBurnFailed;
        // A burn counts once a tablet was found; a mouse arriving is none.
        if (m_eeprom.LastBurn() != CTabletEeprom::BurnOutcome::None)
            CountBurn(verified);
    } else if (m_bAutoBurn) {
        // Auto-burn on, nothing burned: the tablet is compared with the image
        // as it stands, and only a tablet that is there can match it.
        m_strResult = m_eeprom.m_pDevice && m_eeprom.VerifyAll() ? kBurnVerified : kBurnFailed;
    } else {
        m_strResult.clear();
    }
    m_eeprom.ReadAll();
    FillDump();
    UpdateData(FALSE);
    EnableExitButton(m_eeprom.m_pDevice ? FALSE : TRUE);
}

// "OK!" means this tablet now holds the chosen file: it was found, the file
// was complete and valid and was sent, and every byte reads back as sent.
// Verifying anything less would report success for a tablet that never got
// the file (or, with no tablet at all, for an image that happens to be zeros).
bool CUpdateDlg::AutoBurnVerified()
{
    if (!m_eeprom.m_pDevice || m_eeprom.LastBurn() != CTabletEeprom::BurnOutcome::Burned)
        return false;
    return m_eeprom.VerifyAll() != FALSE;
}

LRESULT CUpdateDlg::OnTabletRemoved(WPARAM, LPARAM)
{
    m_lbDump.ResetContent();
    m_strResult.clear();
    m_eeprom.EndAccess();
    // A tablet closed for a removal query keeps its notification until the
    // outcome is reported, which may come after this message.
    const bool removalPending = m_eeprom.RemovalPending();
    if (!removalPending)
        m_eeprom.Close();
    UpdateData(FALSE);
    EnableExitButton(TRUE);
    // A tablet that came back meanwhile has had its arrival posted after
    // this message (MissedArrival): it is taken up there, with its progress,
    // and a removal report left over from a refused query burns nothing.
    return 0;
}

void CUpdateDlg::OnOK()
{
    LeaveTablet();
    // Ends the dialog only if the write delay passes the exchange.
    CDialog::OnOK();
}

void CUpdateDlg::OnCancel()
{
    LeaveTablet();
    CDialog::OnCancel();
}

// Ends the access, closes the tablet and releases the interface registration,
// which the dialog's destruction then finds already released.
void CUpdateDlg::LeaveTablet()
{
    m_eeprom.EndAccess();
    m_eeprom.Close();
    m_hInterfaceNotify.Reset();
}

void CUpdateDlg::FillDump()
{
    for (unsigned row = 0; row < PanelText::kDumpRows; ++row) {
        const unsigned address = row * PanelText::kDumpRowBytes;
        m_lbDump.AddString(PanelText::DumpLine(address, &m_eeprom.m_image[address]).c_str());
    }
}

char CUpdateDlg::DumpChar(BYTE byte)
{
    return PanelText::DumpChar(byte);
}

void CUpdateDlg::EnableExitButton(BOOL enable)
{
    m_btnExit.EnableWindow(enable ? TRUE : FALSE);
    m_btnSet.EnableWindow(enable ? FALSE : TRUE);
}

void CUpdateDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cx = ::GetSystemMetrics(SM_CXICON);
    const int cy = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cx + 1) / 2;
    const int y = (rect.bottom - rect.top - cy + 1) / 2;
    ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HCURSOR CUpdateDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}
