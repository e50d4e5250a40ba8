// The service station's record: the check box that chooses its file, a line
// for each burn on arrival, Set All and Set, and what the station does while
// the file refuses lines.

#include "UpdateDlg.h"

namespace {

const char kRecordFilter[] = "CSV Files(*.csv)|*.csv|All Files(*.*)|*.*||";
const char kRecordExtension[] = "csv";
const char kChooseTitle[] = "Record burns in";
const char kSaveWaitingTitle[] = "The record file cannot be written: save its waiting lines in";
const char kLeaveWithoutLines[] =
    "The record's waiting lines have not been saved anywhere, and will be lost.\n\n"
    "Go on without them?";

// A save dialog, because the file may not exist yet; but a chosen file that
// does is appended to, never replaced, so there is no overwrite prompt. No
// read-only file, nor one in a folder that cannot be written. The current
// directory stays where it was, as for the QC data files.
const DWORD kRecordFlags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | OFN_PATHMUSTEXIST | OFN_NONETWORKBUTTON |
                           OFN_LONGNAMES | OFN_NOCHANGEDIR;

// While lines wait, the file is tried again this often: a spreadsheet closed
// or a share back, and they go in within a second or two.
constexpr UINT_PTR kRecordRetryTimer = 0x5243;
constexpr UINT kRecordRetryMs = 1000;

const char kVerified[] = "OK!";
const char kFailed[] = "Error!!";
const char kNotVerified[] = "not verified";

} // namespace

// Works as Auto Burn does: checking asks for the file, cancelling leaves it
// unchecked, unchecking forgets it (after its waiting lines are dealt with).
void CUpdateDlg::OnRecord()
{
    const bool checked = ::IsDlgButtonChecked(m_hWnd, IDC_RECORD) == BST_CHECKED;
    KeepWaitingRecordLines();
    // The station stays: an arrival held back meanwhile is taken up (and
    // held back again, should an end of session be under way).
    if (m_bArrivalWaiting) {
        m_bArrivalWaiting = false;
        ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
    }
    m_record.Stop();
    ::KillTimer(m_hWnd, kRecordRetryTimer);
    m_strResult = CStationRecord::WithoutNote(m_strResult);
    std::string path;
    if (checked && ChooseRecordFile(kChooseTitle, path)) {
        const bool ready = m_record.Start(path);
        AfterRecording(ready);
    }
    ::CheckDlgButton(m_hWnd, IDC_RECORD, m_record.IsOn() ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemText(IDC_RECORD_FILE, m_record.Path().c_str());
    ShowResultLine();
}

void CUpdateDlg::RecordBurn(bool verified)
{
    // A burn counts once a tablet was found; a mouse arriving is none.
    if (!m_record.IsOn() || m_eeprom.LastBurn() == CTabletEeprom::BurnOutcome::None)
        return;
    CStationRecord::Operation burn;
    burn.name = "auto-burn";
    burn.qcFile = m_strAutoBurnFile;
    // A file that was refused sent nothing.
    if (m_eeprom.LastBurn() == CTabletEeprom::BurnOutcome::Burned) {
        burn.sent = m_eeprom.m_image.data();
        burn.sentSize = m_eeprom.m_image.size();
    }
    burn.verdict = verified ? kVerified : kFailed;
    burn.firstWrongAddress = verified ? -1 : m_eeprom.FirstWrongAddress();
    AfterRecording(m_record.Record(burn, m_eeprom));
}

// The image buffer is what was sent; the QC data file is named when the
// buffer still holds the image it loaded.
void CUpdateDlg::RecordSetAll()
{
    if (!m_record.IsOn())
        return;
    CStationRecord::Operation setAll;
    setAll.name = "Set All";
    setAll.qcFile = m_record.LoadedFileFor(m_eeprom.m_image.data(), m_eeprom.m_image.size());
    setAll.sent = m_eeprom.m_image.data();
    setAll.sentSize = m_eeprom.m_image.size();
    setAll.verdict = kNotVerified;
    AfterRecording(m_record.Record(setAll, m_eeprom));
}

// One byte from the pickers: its address and value are the line's, and no
// file or digest (a digest of one byte would say nothing the value does not).
void CUpdateDlg::RecordSet(int address, int value, bool verified)
{
    if (!m_record.IsOn())
        return;
    CStationRecord::Operation set;
    set.name = "Set";
    set.byteAddressed = true;
    set.address = address;
    set.value = value;
    set.verdict = verified ? kVerified : kFailed;
    set.firstWrongAddress = verified ? -1 : address;
    AfterRecording(m_record.Record(set, m_eeprom));
}

// Inside a burst nothing may look at the message queue, so the box that
// tells of a refusal is posted, to be shown from the loop once the burst is
// over; the note goes on the result line at once.
void CUpdateDlg::AfterRecording(bool written)
{
    if (written)
        return;
    m_strResult = CStationRecord::WithNote(m_strResult);
    ShowResultLine();
    ::SetTimer(m_hWnd, kRecordRetryTimer, kRecordRetryMs, nullptr);
    if (m_record.TakeTroubleToTell())
        ::PostMessageA(m_hWnd, WM_RECORD_TROUBLE, 0, 0);
}

LRESULT CUpdateDlg::OnRecordTrouble(WPARAM, LPARAM)
{
    // Put right meanwhile (the timer wrote the lines): nothing to tell.
    if (m_record.Troubled())
        AfxMessageBox(m_record.TroubleText().c_str(), MB_OK | MB_ICONEXCLAMATION);
    return 0;
}

// Timers come only from a message loop, never from inside a burst; a burst
// is left alone all the same.
LRESULT CUpdateDlg::OnTimer(WPARAM wParam, LPARAM)
{
    if (wParam != kRecordRetryTimer || m_burst.IsRunning() || m_bKeepingRecordLines)
        return 0;
    if (!m_record.WriteWaiting())
        return 0;
    ::KillTimer(m_hWnd, kRecordRetryTimer);
    m_strResult = CStationRecord::WithoutNote(m_strResult);
    ShowResultLine();
    return 0;
}

// Every way out passes here with the tablet already closed, and arrivals
// are held back while the operator chooses. Going on without the lines is
// the operator's choice, never the program's, and only for the lines the
// question was about.
void CUpdateDlg::KeepWaitingRecordLines()
{
    if (m_record.Waiting() == 0 || m_bKeepingRecordLines)
        return;
    m_bKeepingRecordLines = true;
    ::KillTimer(m_hWnd, kRecordRetryTimer);
    while (!m_record.WriteWaiting()) {
        std::string path;
        if (ChooseRecordFile(kSaveWaitingTitle, path)) {
            if (m_record.SaveWaitingTo(path))
                break;
            AfxMessageBox(m_record.SaveFailedText(path).c_str(), MB_OK | MB_ICONHAND);
            continue;
        }
        // Only a "No" asks again: a box that could not even be shown must
        // not hold the station in this loop for ever.
        const std::size_t asked = m_record.Waiting();
        if (AfxMessageBox(kLeaveWithoutLines, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDNO) {
            m_record.DropWaiting(asked);
            if (m_record.Waiting() == 0)
                break;
        }
    }
    m_bKeepingRecordLines = false;
}

bool CUpdateDlg::ChooseRecordFile(const char* title, std::string& path)
{
    CFileDialog dialog(FALSE, kRecordExtension, "", kRecordFlags, kRecordFilter, this, m_pFileDialogs);
    dialog.m_ofn.lpstrTitle = title;
    if (dialog.DoModal() != IDOK)
        return false;
    path = dialog.GetPathName();
    return !path.empty();
}

void CUpdateDlg::ShowResultLine()
{
    SetDlgItemText(IDC_RESULT, m_strResult.c_str());
}
