#include "Dialog.h"

#include "WinApp.h"

namespace {

// For these the dialog procedure's return value is the message's result;
// for all others it only says "handled" and the result goes in DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

} // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog()
{
    // Only reachable with a live window if the object dies inside its own
    // dialog: make sure the procedure can no longer find it.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd != nullptr)
        return -1; // already running
    m_bEnding = false;
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (owner == nullptr) {
        const CWinApp* app = AfxGetApp();
        if (app != nullptr && app->m_pMainWnd != nullptr && app->m_pMainWnd != this)
            owner = app->m_pMainWnd->GetSafeHwnd();
    }
    return ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), owner, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result)
{
    m_bEnding = true;
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (CWnd::OnWndMsg(message, wParam, lParam, result))
        return TRUE;
    // Menu and accelerator commands the dialog does not handle go to the
    // application object, as they would in a frame window.
    if (message == WM_COMMAND && lParam == 0) {
        if (CWinApp* app = AfxGetApp()) {
            if (app->OnCmdMsg(LOWORD(wParam), 0)) {
                *result = 0;
                return TRUE;
            }
        }
    }
    return FALSE;
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();

    LRESULT result = 0;
    const BOOL handled = OnWndMsg(message, wParam, lParam, &result);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
    }
    if (!handled)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    // Set last: the handler may have sent other messages to this dialog, each
    // of which overwrote the slot.
    if (m_hWnd != nullptr)
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
    } else {
        dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT and the creation messages)
    // have no object yet and get the default treatment.
    if (dialog == nullptr)
        return FALSE;
    try {
        return dialog->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // An exception must not unwind through the system's dialog code.
        // A dialog whose initialisation failed ends with -1, DoModal's
        // failure value; a failed paint still validates, or WM_PAINT would
        // come back for ever.
        if (message == WM_INITDIALOG)
            ::EndDialog(hWnd, -1);
        else if (message == WM_PAINT)
            ::ValidateRect(hWnd, nullptr);
        if (message == WM_NCDESTROY) {
            ::SetWindowLongPtrA(hWnd, DWLP_USER, 0);
            dialog->m_hWnd = nullptr;
        }
        return FALSE;
    }
}
