#include "RemoteDialog.h"

#include "MessageBoxWindow.h"

namespace
{
constexpr UINT kMessageTimeoutMs = 5000;

// Sends with a timeout; false when the program did not answer in time.
bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result,
                     UINT timeoutMs = kMessageTimeoutMs)
{
    return ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
}

struct CaptionSearch
{
    DWORD processId;
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<CaptionSearch*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search.processId || !::IsWindowVisible(window))
        return TRUE;
    if (MessageBoxWindow::ReadText(window) != *search.caption)
        return TRUE;
    search.found = window;
    return FALSE;
}
}

HWND RemoteDialog::Control(int id) const
{
    return ::GetDlgItem(m_dialog, id);
}

bool RemoteDialog::Click(int id) const
{
    // The system's button takes a click even when it is hidden or disabled;
    // an operator could not make it.
    HWND control = Control(id);
    if (control == nullptr || !::IsWindowVisible(control) || !::IsWindowEnabled(control))
        return false;
    // Sent without waiting rather than posted: a message sent later (the
    // WaitIdle probe) is then handled only after it, never before.
    return ::SendNotifyMessageA(control, BM_CLICK, 0, 0) != FALSE;
}

bool RemoteDialog::Close() const
{
    return ::PostMessageA(m_dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE;
}

bool RemoteDialog::Type(int id, const std::string& text) const
{
    HWND control = Control(id);
    DWORD_PTR result = 0;
    return control != nullptr &&
           SendWithTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), result) && result != 0;
}

std::string RemoteDialog::Text(int id) const
{
    HWND control = Control(id);
    return control != nullptr ? MessageBoxWindow::ReadText(control) : std::string();
}

std::vector<std::string> RemoteDialog::ListItems(int id) const
{
    std::vector<std::string> items;
    HWND list = Control(id);
    DWORD_PTR count = 0;
    if (list == nullptr || !SendWithTimeout(list, LB_GETCOUNT, 0, 0, count) || count == static_cast<DWORD_PTR>(LB_ERR))
        return items;
    for (DWORD_PTR index = 0; index < count; ++index)
    {
        // Asked in UTF-16: Wine hands another process a Unicode list box's
        // text unconverted even when asked for ANSI, which would overrun a
        // buffer sized in ANSI characters.
        DWORD_PTR length = 0;
        if (!::SendMessageTimeoutW(list, LB_GETTEXTLEN, index, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length) ||
            length == static_cast<DWORD_PTR>(LB_ERR))
            break;
        // A dump line is about a hundred characters; the bound keeps a
        // confused answer from asking for gigabytes.
        if (length > 65536)
            length = 65536;
        std::vector<wchar_t> wide(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (!::SendMessageTimeoutW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG,
                                   kMessageTimeoutMs, &copied) ||
            copied == static_cast<DWORD_PTR>(LB_ERR))
            break;
        const int chars = static_cast<int>(copied < length ? copied : length);
        const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, nullptr, 0, nullptr, nullptr);
        std::string item(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
        if (bytes > 0)
            ::WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, &item[0], bytes, nullptr, nullptr);
        items.push_back(item);
    }
    return items;
}

bool RemoteDialog::IsEnabled(int id) const
{
    HWND control = Control(id);
    return control != nullptr && ::IsWindowEnabled(control);
}

bool RemoteDialog::IsVisible(int id) const
{
    HWND control = Control(id);
    return control != nullptr && ::IsWindowVisible(control);
}

SIZE RemoteDialog::ClientSize() const
{
    RECT client = {};
    ::GetClientRect(m_dialog, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

bool RemoteDialog::WaitIdle(DWORD timeoutMs) const
{
    DWORD_PTR result = 0;
    return SendWithTimeout(m_dialog, WM_NULL, 0, 0, result, timeoutMs);
}

HWND FindTopLevelWindow(DWORD processId, const std::string& caption)
{
    CaptionSearch search{processId, &caption, nullptr};
    ::EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
