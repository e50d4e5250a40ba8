// The display scale: both of the dialog's faces, the update window and the
// service station, laid out for the DPI of the monitor the window is on, at
// start and whenever it moves to a monitor of another scale.

#include "UpdateDlg.h"

#include "ControlDC.h"

#include <cstring>
#include <utility>

// The dialog manager made the template's font for the DPI the dialog was
// created at, which is the window's own: per monitor where the process is
// per-monitor aware (the dialog manager scales dialogs created there), the
// system DPI otherwise. Later DPIs scale that font, never a scaled one, so
// that moving back and forth does not drift by rounding.
//
// The template's face is "System", which on Windows is a raster font: one
// size, whatever height is asked of it, so no DPI makes it larger (Wine 10.0
// does the same; Wine 8.0 gives a face that scales). Such a font is not
// scaled but stood in for by the shell's dialog face at the raster font's
// own cell height and weight, which are made for the system DPI; the stand-
// in is used wherever the window's DPI is another, from the start.
void CUpdateDlg::TakeDisplayScale()
{
    m_nDpi = m_pDpi != nullptr ? m_pDpi->ForWindow(m_hWnd) : CWindowDpi::ForWindow(m_hWnd);
    m_nTemplateFontDpi = m_nDpi;
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    if (font == nullptr || ::GetObjectA(font, sizeof(m_logFontTemplate), &m_logFontTemplate) == 0)
        m_logFontTemplate = LOGFONTA{};
    if (font != nullptr && m_logFontTemplate.lfHeight != 0) {
        TEXTMETRICA metrics{};
        {
            const ControlDC dc(m_hWnd, static_cast<HFONT>(font));
            metrics = dc.Metrics();
        }
        const bool scales = (metrics.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)) != 0;
        if (!scales && metrics.tmHeight > 0) {
            LOGFONTA standIn{};
            standIn.lfHeight = metrics.tmHeight; // positive: the cell height
            standIn.lfWeight = metrics.tmWeight;
            standIn.lfCharSet = DEFAULT_CHARSET;
            standIn.lfOutPrecision = OUT_TT_PRECIS;
            standIn.lfQuality = DEFAULT_QUALITY;
            standIn.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
            std::strncpy(standIn.lfFaceName, "MS Shell Dlg 2", LF_FACESIZE - 1);
            m_logFontTemplate = standIn;
            m_nTemplateFontDpi = m_pDpi != nullptr ? m_pDpi->ForSystem() : CWindowDpi::ForSystem();
            if (m_nTemplateFontDpi != m_nDpi)
                MakeFontsForDpi();
        }
    }
    // Left to itself, the dialog manager would answer a DPI change (per-
    // monitor v2) by placing every control where the template has it, which
    // is not where either face puts them. Windows before 10 1703 have no such
    // behaviour, and neither has Wine 8.0.
    CWindowDpi::KeepDialogLayout(m_hWnd);
}

HFONT CUpdateDlg::DialogFont() const
{
    if (m_fontDialog.GetSafeHandle() != nullptr)
        return m_fontDialog.GetSafeHandle();
    return reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
}

void CUpdateDlg::MakeFontsForDpi()
{
    if (m_logFontTemplate.lfHeight == 0)
        return; // no font of its own to scale: the system's, which Windows scales
    CFont font;
    if (!font.CreateScaled(m_logFontTemplate, m_nDpi, m_nTemplateFontDpi))
        return; // the old fonts stay: too small or large, but every caption readable
    const WPARAM handle = reinterpret_cast<WPARAM>(font.GetSafeHandle());
    ::SendMessageA(m_hWnd, WM_SETFONT, handle, FALSE);
    const HWND dump = GetDlgItem(IDC_DUMP_LIST);
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (child != dump || !m_bServiceMode)
            ::SendMessageA(child, WM_SETFONT, handle, FALSE);
    }
    // The old font goes here, once no control holds it any more.
    m_fontDialog = std::move(font);
    // The station's dump has a fixed-pitch face of its own, which follows
    // the dialog's font's height.
    if (m_bServiceMode)
        SetDumpFont();
}

// Windows moves the window first (its suggested rectangle keeps it on the
// monitor whose DPI it now has, scaled from the old size), then the layout
// takes the size the new fonts need, from the same top-left corner.
LRESULT CUpdateDlg::OnDpiChanged(WPARAM wParam, LPARAM lParam)
{
    const UINT dpi = CWindowDpi::FromDpiChanged(wParam);
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    if (dpi == 0 || suggested == nullptr)
        return 0;
    ::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (dpi != m_nDpi) {
        m_nDpi = dpi;
        MakeFontsForDpi();
    }
    if (m_bServiceMode)
        ResizeInPlace(LayOutStation());
    else if (m_progress.IsCreated())
        ResizeInPlace(LayOutUpdateWindow());
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return 0;
}

void CUpdateDlg::ResizeInPlace(SIZE client)
{
    RECT frame = {0, 0, client.cx, client.cy};
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
    CWindowDpi::AdjustWindowRect(&frame, style, exStyle, m_nDpi);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
