// The dialog's reactions to the tablet coming and going, its exit, the hex
// dump and the icon while minimised.

#include "UpdateDlg.h"

#include "PanelText.h"

namespace {

const char kBurnVerified[] = "OK!";
const char kBurnFailed[] = "Error!!";
const char kBurningLine[] = "Burning the file into the tablet. Do not unplug it.";
const char kReadingLine[] = "Reading the tablet.";

// The station's verdict for an operator who is not looking: the sounds of
// the one-shot update's own outcome boxes (information for "updated", stop
// for a failure), which the operator already knows as good and bad. Not
// MB_OK: the default beep is also what Windows plays for a click beside a
// modal box, and would mean nothing.
constexpr UINT kVerifiedSound = MB_ICONASTERISK;
constexpr UINT kFailedSound = MB_ICONHAND;

} // namespace

LRESULT CUpdateDlg::OnDeviceChange(WPARAM wParam, LPARAM lParam)
{
    const DWORD event = static_cast<DWORD>(wParam);
    const int change = m_eeprom.ClassifyDeviceChange(event, lParam);
    const bool missedArrival = MissedArrival(event, lParam, change);
    // The tablet stays open to the burst's last byte: the removal is refused
    // (Windows then reports it failed), and the user can remove the device
    // once the burst is over. A tablet pulled out is gone all the same.
    if (change == -1 && event == DBT_DEVICEQUERYREMOVE && m_burst.IsRunning())
        return BROADCAST_QUERY_DENY;
    // A query granted: should the removal be refused after all, the tablet
    // comes back with the verdict shown now.
    if (change == -1 && event == DBT_DEVICEQUERYREMOVE)
        m_strResultBeforeQuery = m_strResult;
    if (change == -1)
        ::PostMessageA(m_hWnd, WM_TABLET_REMOVED, 0, 0);
    else if (change == 1 || missedArrival)
        ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
    // A removal query is granted by closing the tablet before answering (no
    // device I/O, so the answer never waits on the device); its notification
    // stays to hear whether the removal went through.
    if (change != 0)
        m_eeprom.FollowRemoval(event);
    // Outside a burst a removal query is always granted: Windows documents
    // TRUE as the grant. Every other report is answered as it always was.
    return event == DBT_DEVICEQUERYREMOVE ? TRUE : 0;
}

// Shutdown, log-off and a restart for updates ask first; a session that ends
// anyway (forced) is past our control.
LRESULT CUpdateDlg::OnQueryEndSession(WPARAM, LPARAM)
{
    return m_burst.AnswerQueryEndSession();
}

// Once this returns with the session ending, Windows may end the process at
// any moment, without the dialog's way out. With ENDSESSION_CLOSEAPP it is
// Restart Manager that asks: the session goes on, and Microsoft's guidelines
// for applications say to close on this message (Restart Manager sends
// WM_CLOSE to those that do not). So either way the program ends, leaving the
// tablet as its own way out does. A forced end that comes inside a burst
// (its progress retrieves messages) leaves the tablet to the burst, whose
// transfers are still to return; the program ends once the burst is over.
LRESULT CUpdateDlg::OnEndSession(WPARAM wParam, LPARAM)
{
    const BOOL ending = wParam != FALSE ? TRUE : FALSE;
    m_burst.EndSessionDecided(ending);
    if (!ending) {
        // Posted, as every arrival is: it runs from the loop, not in here.
        if (m_bArrivalWaiting)
            ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
        m_bArrivalWaiting = false;
        return 0;
    }
    if (m_burst.IsRunning())
        ::PostMessageA(m_hWnd, WM_SESSION_ENDED, 0, 0);
    else
        EndForEndOfSession();
    return 0;
}

LRESULT CUpdateDlg::OnSessionEnded(WPARAM, LPARAM)
{
    EndForEndOfSession();
    return 0;
}

// The dialog only ever posts itself its own messages. One sent from another
// thread (any program of the user can send to the dialog) would run at the
// next look at the queue wherever it stands: Microsoft documents that
// PeekMessage dispatches sent messages whatever its filter, so inside a burst
// an arrival would reopen the tablet between two writes, an end of session
// close it. Such a send is answered 0 and acted on nowhere.
BOOL CUpdateDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    const bool ownMessage = message == WM_TABLET_ARRIVED || message == WM_TABLET_REMOVED ||
                            message == WM_SESSION_ENDED || message == WM_RECORD_TROUBLE;
    if ((ownMessage && ::InSendMessageEx(nullptr) != ISMEX_NOSEND) ||
        (message == WM_COMMAND && !ActsOnCommand(wParam, lParam))) {
        *result = 0;
        return TRUE;
    }
    return CDialog::OnWndMsg(message, wParam, lParam, result);
}

// Any program on the desktop can post the dialog a WM_COMMAND naming any
// command and any sender, and a control that is hidden or disabled takes no
// click, yet one sent BM_CLICK from another thread (automation, a UI driver)
// still sends its command. So a command counts only from the dialog's own
// control of that id, and only while the user can use it: enabled and shown.
// Outside the service mode only the frame's Exit and Set can be such
// controls (the panel is hidden there, and the one-shot update hides those
// two as well). The dialog manager sends Enter's command from the default
// button; Escape's IDCANCEL, and the close box's, come from the Cancel
// button this dialog does not have, so with no sender. With no sender only
// the two ways out count, as they always did.
// During a burst nothing counts: no command may start, nor leave in the
// middle of it. The burst's own data exchange raises notifications too,
// which the exchange ignores anyway. Nor while the dialog itself is disabled:
// a message box or file dialog of ours is up, whose loop would run a posted
// command inside it; the user can reach no control then, and the dialog
// manager sends no Enter or Escape to a disabled dialog either. Only the
// close request's IDCANCEL, which the dialog procedure posts for WM_CLOSE
// (Restart Manager's too), still counts: the dialog ends once the box closes.
bool CUpdateDlg::ActsOnCommand(WPARAM wParam, LPARAM lParam) const
{
    if (m_burst.IsRunning())
        return false;
    const int id = LOWORD(wParam);
    const HWND sender = reinterpret_cast<HWND>(lParam);
    const bool enabled = ::IsWindowEnabled(m_hWnd) != FALSE;
    if (sender == nullptr)
        return id == IDCANCEL || (id == IDOK && enabled);
    if (!enabled)
        return false;
    if (!m_bServiceMode && id != IDOK && id != IDC_SET)
        return false;
    return ::IsChild(m_hWnd, sender) && ::GetDlgCtrlID(sender) == id && ::IsWindowEnabled(sender) &&
           ::IsWindowVisible(sender);
}

LRESULT CUpdateDlg::OnTabletArrived(WPARAM, LPARAM)
{
    // The operator is being asked where the record's waiting lines go: an
    // arrival taken up inside that question would burn, and add a line the
    // question was not about. Taken up once it is answered, if the station
    // stays.
    if (m_bKeepingRecordLines) {
        m_bArrivalWaiting = true;
        return 0;
    }
    // The arrival is a burst from here: with auto-burn on it writes, and
    // taking the tablet up makes transfers a removal would cut.
    CWriteBurst::Scope burst(m_burst, m_hWnd, m_eeprom);
    switch (burst.Refused()) {
    case CWriteBurst::Refusal::Nested:
        // The running burst owns the tablet; the arrival is looked at once
        // it is over (the burst dispatches nothing posted).
        ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
        return 0;
    case CWriteBurst::Refusal::RemovalPending:
        // Opening the tablet while its removal is being decided would refuse
        // the removal; the outcome brings it back or looks for one.
        return 0;
    case CWriteBurst::Refusal::SessionEnding:
        // Opening the tablet makes transfers, and with auto-burn a burst that
        // an end of session already granted would cut. Arrivals meanwhile
        // are one look for a tablet, once the session goes on.
        m_bArrivalWaiting = true;
        return 0;
    case CWriteBurst::Refusal::None:
    case CWriteBurst::Refusal::NoTablet: // never asked: the arrival opens it
        break;
    }
    m_lbDump.ResetContent();
    // A tablet whose removal was refused is not burned again. Auto-burn
    // checked with its file dialog still open has no file yet: that arrival
    // opens the tablet without burning, as an empty path always meant.
    const bool stayed = m_tabletReturn.TakeStayed();
    // The burn, the access request, the verification (at most a whole image,
    // made whenever auto-burn is on, but for a tablet that stayed) and the
    // dump's read.
    const bool verifies = m_bAutoBurn != FALSE && !stayed;
    const bool autoBurn = verifies && !m_strAutoBurnFile.empty();
    const int transfers = (autoBurn ? CTabletEeprom::kBurnTransfers : 0) + CTabletEeprom::kStringRequestTransfers +
                          (verifies ? 2 : 1) * CTabletEeprom::kWholeImageTransfers;
    BeginPanelProgress(burst, autoBurn ? kBurningLine : kReadingLine, transfers);
    m_eeprom.Open(m_hWnd, autoBurn ? m_strAutoBurnFile.c_str() : nullptr);
    TakeUpOpenedTablet(autoBurn, stayed);
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

void CUpdateDlg::TakeUpOpenedTablet(bool burned, bool stayed)
{
    m_eeprom.BeginAccess();
    // A burn counts once a tablet was found; a mouse arriving is none.
    const bool counted = burned && m_eeprom.LastBurn() != CTabletEeprom::BurnOutcome::None;
    bool verified = false;
    if (burned) {
        verified = AutoBurnVerified();
        m_strResult = verified ? kBurnVerified : kBurnFailed;
        RecordBurn(verified);
        if (counted)
            CountBurn(verified);
    } else if (stayed && m_eeprom.m_pDevice) {
        // It never left and nothing was written to it meanwhile, so it keeps
        // its verdict. Compared with the image just read from it, it would
        // always pass, even right after a failed burn.
        m_strResult = m_strResultBeforeQuery;
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
    // Last, with the tablet's transfers over: an operator who hears the
    // verdict pulls the tablet out at once.
    if (counted)
        SoundBurn(verified);
}

void CUpdateDlg::SoundBurn(bool verified)
{
    // Queued and played asynchronously. A sound that cannot play (no sound
    // device) changes nothing the operator sees.
    if (m_bServiceMode)
        m_system.MessageBeep(verified ? kVerifiedSound : kFailedSound);
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

// Ends the dialog only if the write delay passes the exchange. The exchange
// comes first: an Exit it refuses leaves the tablet open and the arrivals
// heard, so the station goes on working while the operator mends the entry.
void CUpdateDlg::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    LeaveTablet();
    KeepWaitingRecordLines();
    EndDialog(IDOK);
}

void CUpdateDlg::OnCancel()
{
    LeaveTablet();
    KeepWaitingRecordLines();
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

// The station ends the access as its exit does. The one-shot update leaves
// it open for the replug it asked for, as the dialog's destruction does. A
// message box or file dialog still open keeps the dialog until it closes
// (Restart Manager's WM_CLOSE reaches it too): EndDialog only marks the
// dialog to end when its own loop runs again.
void CUpdateDlg::EndForEndOfSession()
{
    // Nothing can be asked any more: the record's waiting lines get one
    // last try, and are otherwise kept in a file of their own ("Any data
    // should be saved automatically without prompting the user").
    if (!m_record.WriteWaiting())
        m_record.SaveWaitingForLater();
    if (m_bServiceMode) {
        LeaveTablet();
    } else {
        m_eeprom.Close();
        m_hInterfaceNotify.Reset();
    }
    EndDialog(IDCANCEL);
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
    // During a burst the buttons take this state when it ends.
    m_burst.EnableControl(m_btnExit.GetSafeHwnd(), enable ? TRUE : FALSE);
    m_burst.EnableControl(m_btnSet.GetSafeHwnd(), enable ? FALSE : TRUE);
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
