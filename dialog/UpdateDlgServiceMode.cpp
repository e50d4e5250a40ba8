// The service mode: the dialog opened as a service station, with the whole
// panel shown and usable, instead of running the one-shot update.

#include "UpdateDlg.h"

namespace {

const char kServiceCaption[] = "Update - service mode";

// The panel's controls span 7..453 x 8..313 dialog units; this frame holds
// them with a margin.
constexpr int kPanelWidthDlu = 460;
constexpr int kPanelHeightDlu = 320;

// The free row between the data-read line and the dump, for the progress of
// the long commands.
constexpr RECT kPanelLineDlu = {7, 69, 200, 79};
constexpr RECT kPanelBarDlu = {205, 70, 453, 78};

} // namespace

void CUpdateDlg::StartServiceMode()
{
    SetWindowText(kServiceCaption);

    // The template keeps the panel hidden and disabled; here every control is
    // the operator's. Exit and Set then follow the tablet, from its arrival on.
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        ::EnableWindow(child, TRUE);
        ::ShowWindow(child, SW_SHOWNA);
    }

    ResizeCentred(kPanelWidthDlu, kPanelHeightDlu);

    RECT line = kPanelLineDlu;
    RECT bar = kPanelBarDlu;
    ::MapDialogRect(m_hWnd, &line);
    ::MapDialogRect(m_hWnd, &bar);
    m_progress.Create(m_hWnd, line, bar);
    m_progress.ShowBar(false);

    FillPickers();
    ApplyWriteDelay();

    // A tablet already plugged in is taken up as if it had just arrived;
    // posted, so that the operator sees the panel while it is read.
    ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
}

void CUpdateDlg::BeginPanelProgress(const char* line, int transfers)
{
    if (!m_bServiceMode || !m_progress.IsCreated())
        return;
    m_progress.SetText(line);
    m_progress.ShowBar(true);
    m_progress.Start(m_eeprom, transfers);
}

void CUpdateDlg::EndPanelProgress()
{
    if (!m_bServiceMode || !m_progress.IsCreated())
        return;
    m_progress.Finish();
    m_progress.ShowBar(false);
    m_progress.SetText("");
}
