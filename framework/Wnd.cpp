#include "Wnd.h"

#include <vector>

#include "DataExchange.h"

namespace {

// Sets a flag for one scope and puts the old value back afterwards, so that
// nested dispatches (a message box inside a handler pumps messages to this
// same window) each see their own state.
class FlagScope {
public:
    FlagScope(bool& flag, bool value) : m_flag(flag), m_saved(flag) { m_flag = value; }
    ~FlagScope() { m_flag = m_saved; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
    bool m_saved;
};

} // namespace

std::string AfxGetWindowText(HWND hWnd)
{
    if (hWnd == nullptr)
        return std::string();
    // The length can be an overestimate (it may count bytes of a conversion),
    // never an underestimate; the copy reports the real length.
    const int length = ::GetWindowTextLengthA(hWnd);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(hWnd, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

CWnd::CWnd() : m_hWnd(nullptr), m_bNotifyLocked(false), m_bDefaultRequested(false) {}

CWnd::~CWnd() = default;

HWND CWnd::GetSafeHwnd() const
{
    return m_hWnd;
}

void CWnd::Attach(HWND hWnd)
{
    m_hWnd = hWnd;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const
{
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT rect) const
{
    if (!::GetClientRect(m_hWnd, rect))
        ::SetRectEmpty(rect);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                                  reinterpret_cast<LPARAM>(icon)));
}

void CWnd::SetWindowText(const char* text)
{
    ::SetWindowTextA(m_hWnd, text != nullptr ? text : "");
}

std::string CWnd::GetWindowText() const
{
    return AfxGetWindowText(m_hWnd);
}

HWND CWnd::GetDlgItem(int id) const
{
    return ::GetDlgItem(m_hWnd, id);
}

UINT CWnd::GetDlgItemInt(int id, BOOL* translated, BOOL isSigned) const
{
    return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
}

void CWnd::SetDlgItemText(int id, const char* text)
{
    ::SetDlgItemTextA(m_hWnd, id, text != nullptr ? text : "");
}

std::string CWnd::GetDlgItemText(int id) const
{
    return AfxGetWindowText(GetDlgItem(id));
}

BOOL CWnd::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    FlagScope lock(m_bNotifyLocked, true);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

void CWnd::Default()
{
    m_bDefaultRequested = true;
}

void CWnd::OnPaint()
{
    Default();
}

HCURSOR CWnd::OnQueryDragIcon()
{
    Default();
    return nullptr;
}

BOOL CWnd::CallHandler(const AFX_MSGMAP_ENTRY& entry, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    FlagScope scope(m_bDefaultRequested, false);
    const LRESULT handlerResult = entry.pfnThunk(this, wParam, lParam);
    if (m_bDefaultRequested)
        return FALSE;
    *result = handlerResult;
    return TRUE;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        id = LOWORD(wParam);
        if (lParam != 0) {
            if (m_bNotifyLocked) {
                *result = 0;
                return TRUE;
            }
            code = HIWORD(wParam);
        }
        // With no control, the high word only tells a menu (0) from an
        // accelerator (1): both are the same command.
    }
    const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), message, code, id);
    if (entry == nullptr)
        return FALSE;
    return CallHandler(*entry, wParam, lParam, result);
}
