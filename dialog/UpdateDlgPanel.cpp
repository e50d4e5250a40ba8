// The service panel's commands: single bytes, the whole image, QC data files,
// the auto-burn file and the write delay.
//
// They work inside the access that the tablet's arrival opened, and send no
// access request of their own.

#include "UpdateDlg.h"

#include "PanelText.h"

#include <cctype>

namespace {

const char kQcFileFilter[] = "QC Data Files(*.tqc)|*.tqc|All Files(*.*)|*.*||";
// Given without the dot: a name typed without an extension gets ".tqc".
const char kQcFileExtension[] = "tqc";
const char kWritingLine[] = "Writing the tablet. Do not unplug it.";
const char kSessionEndingText[] =
    "The computer is shutting down, so the tablet was not written.\n\n"
    "If the shutdown is cancelled, try again.";
const char kRemovalPendingText[] =
    "The tablet is being removed, so it was not written.\n\n"
    "If it is not removed after all, try again once its bytes are shown.";
const char kNoTabletWrittenText[] =
    "No tablet is plugged in, so nothing was written.\n\n"
    "Plug in the tablet and try again once its bytes are shown.";
// OFN_NOCHANGEDIR: the current directory stays where it was, so a USB stick
// holding QC data files can be ejected while the station runs. No
// OFN_NOREADONLYRETURN: a master file is often read-only, or on a
// write-protected share, and reading it harms nothing.
const DWORD kOpenFlags =
    OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON | OFN_LONGNAMES | OFN_NOCHANGEDIR;
// No overwrite prompt: saving over the file last loaded is the usual case.
const DWORD kSaveFlags =
    OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | OFN_NONETWORKBUTTON | OFN_LONGNAMES | OFN_NOCHANGEDIR;

bool HasDigit(const std::string& text)
{
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            return true;
    }
    return false;
}

} // namespace

void CUpdateDlg::OnGet()
{
    UpdateData(TRUE);
    int address = 0;
    if (AddressFromBox(false, address)) {
        const BYTE value = m_eeprom.ReadByte(address);
        m_strDataRead = PanelText::GetResult(value);
    }
    UpdateData(FALSE);
}

void CUpdateDlg::OnSet()
{
    UpdateData(TRUE);
    int address = 0;
    if (!AddressFromBox(true, address)) {
        // Nothing was set, so the Exit/Set switch stays where it was.
        UpdateData(FALSE);
        return;
    }
    const int value = static_cast<int>(GetDlgItemInt(IDC_SET_VALUE, nullptr, TRUE));
    // Only the low 8 bits travel; a value outside 0..255 therefore never
    // counts as set, whatever reads back.
    // A read-back that failed left the report id, 4, in its buffer: that is
    // never a match, not even for a value of 4.
    BYTE written = 0;
    BYTE readBack = 0;
    BOOL readOk = FALSE;
    {
        // With no tablet it is not refused: the byte line's "Error" and the
        // Exit/Set switch already say that nothing was set, as they always did.
        CWriteBurst::Scope burst(m_burst, m_hWnd, m_eeprom);
        if (RefuseBurst(burst))
            return;
        written = m_eeprom.WriteByte(address, static_cast<BYTE>(value));
        readOk = m_eeprom.ReadByteChecked(address, readBack);
    }
    m_strDataRead = PanelText::SetResult(readBack, written != 0 && readOk && value == readBack);
    RecordSet(address, value, written != 0 && readOk && value == readBack);
    UpdateData(FALSE);
    EnableExitButton(m_eeprom.m_pDevice ? TRUE : FALSE);
}

void CUpdateDlg::OnGetAll()
{
    m_lbDump.ResetContent();
    m_eeprom.ReadAll();
    FillDump();
}

void CUpdateDlg::OnSetAll()
{
    if (RefuseUnreadImage(false))
        return;
    CWriteBurst::Scope burst(m_burst, m_hWnd, m_eeprom, CWriteBurst::Tablet::MustBeOpen);
    if (RefuseBurst(burst))
        return;
    BeginPanelProgress(burst, kWritingLine, CTabletEeprom::kWholeImageTransfers);
    m_eeprom.WriteAll();
    RecordSetAll();
    EndPanelProgress();
}

void CUpdateDlg::OnLoad()
{
    std::string path;
    if (!ChooseQcFile(true, path))
        return;
    m_lbDump.ResetContent();
    QcDataFile::LoadResult outcome = QcDataFile::LoadResult::Valid;
    m_eeprom.LoadImage(path.c_str(), &outcome);
    m_record.ImageLoaded(path, m_eeprom.m_image.data(), m_eeprom.m_image.size());
    FillDump();
    // The damaged file is loaded all the same, as it always was; the operator
    // must not take the zeros it leaves for an image.
    if (outcome != QcDataFile::LoadResult::Valid)
        AfxMessageBox(PanelText::LoadProblem(outcome, path).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void CUpdateDlg::OnSave()
{
    std::string path;
    if (!ChooseQcFile(false, path))
        return;
    if (RefuseUnreadImage(true))
        return;
    QcDataFile::SaveResult outcome;
    if (!m_eeprom.SaveImage(path.c_str(), &outcome))
        AfxMessageBox(PanelText::SaveFailed(outcome, path).c_str(), MB_OK | MB_ICONHAND);
}

void CUpdateDlg::OnAutoBurn()
{
    UpdateData(TRUE);
    m_strAutoBurnFile.clear();
    if (m_bAutoBurn) {
        std::string path;
        if (ChooseQcFile(true, path))
            m_strAutoBurnFile = path;
    }
    if (m_strAutoBurnFile.empty())
        m_bAutoBurn = FALSE;
    UpdateData(FALSE);
}

// Runs on every keystroke in the field, so an entry the exchange refuses
// keeps the delay that was in force before it.
//
// Not on the way out: Escape and the close box end the dialog without
// reading the controls, and Exit only after they passed; hiding the ended
// dialog then takes the focus from the field, and each refusal of what it
// holds would put the focus back into the hidden field and lose it again.
void CUpdateDlg::OnWriteDelayChanged()
{
    if (IsEnding())
        return;
    UpdateData(TRUE);
    ApplyWriteDelay();
}

// An address beyond the EEPROM would be sent to the tablet as a different
// one (only its low bits travel), so it is refused before any transfer. A
// number too large for the box's conversion (which then yields 0) is refused
// too; a box with no number at all still means address 0.
bool CUpdateDlg::AddressFromBox(bool writing, int& address)
{
    BOOL translated = FALSE;
    address = static_cast<int>(GetDlgItemInt(IDC_ADDRESS, &translated, TRUE));
    const bool overflowed = !translated && HasDigit(GetDlgItemText(IDC_ADDRESS));
    if (overflowed || address < 0 || address > 255) {
        m_strDataRead = PanelText::AddressRefused(writing);
        return false;
    }
    return true;
}

bool CUpdateDlg::ChooseQcFile(bool open, std::string& path)
{
    CFileDialog dialog(open ? TRUE : FALSE, kQcFileExtension, "", open ? kOpenFlags : kSaveFlags,
                       kQcFileFilter, this, m_pFileDialogs);
    if (dialog.DoModal() != IDOK)
        return false;
    path = dialog.GetPathName();
    return !path.empty();
}

// A failed read leaves the report id, 4, in the buffer; sending or saving it
// as data would put a byte the tablet never held into the tablet or a file.
bool CUpdateDlg::RefuseUnreadImage(bool saving)
{
    if (!m_eeprom.AnyReadFailed())
        return false;
    AfxMessageBox(PanelText::UnreadBytesRefused(saving).c_str(), MB_OK | MB_ICONHAND);
    return true;
}

// A write begun after the end of session was granted would be cut wherever
// it stands when WM_ENDSESSION comes. Set refuses too: an operator setting
// bytes one by one is as much in the middle of a change as Set All is. A
// tablet closed for a removal query would take nothing, and the operator
// would not know. The box comes once the burst is over: its loop
// dispatches everything. Inside another burst no box comes at all: that one
// is still running.
bool CUpdateDlg::RefuseBurst(CWriteBurst::Scope& burst)
{
    if (burst.Refused() == CWriteBurst::Refusal::None)
        return false;
    burst.End();
    if (burst.Refused() != CWriteBurst::Refusal::Nested)
        AfxMessageBox(NotWrittenText(burst.Refused()), MB_OK | MB_ICONEXCLAMATION);
    return true;
}

const char* CUpdateDlg::NotWrittenText(CWriteBurst::Refusal refusal)
{
    switch (refusal) {
    case CWriteBurst::Refusal::RemovalPending:
        return kRemovalPendingText;
    case CWriteBurst::Refusal::NoTablet:
        return kNoTabletWrittenText;
    default:
        return kSessionEndingText;
    }
}
