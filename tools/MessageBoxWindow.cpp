#include "MessageBoxWindow.h"

#include <vector>

namespace
{
constexpr UINT kMessageTimeoutMs = 1000;

bool HasClass(HWND window, const char* className)
{
    char name[64] = {};
    return ::GetClassNameA(window, name, static_cast<int>(sizeof(name))) > 0 && ::lstrcmpiA(name, className) == 0;
}

int ControlId(HWND control)
{
    // Templates hold 16-bit IDs; depending on the template kind Windows keeps
    // 0xFFFF or sign-extends it to -1.
    return ::GetDlgCtrlID(control) & 0xFFFF;
}

bool IsIconStatic(HWND control)
{
    return (::GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}
}

bool MessageBoxWindow::Recognise(HWND window)
{
    if (!HasClass(window, "#32770"))
        return false;
    // Any dialog may label things with static 0xFFFF (IDC_STATIC is -1), so
    // the class and that static are not enough: a message box holds exactly
    // one text static, an icon static and answer buttons, nothing else.
    int textStatics = 0;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    {
        const int id = ControlId(child);
        if (HasClass(child, "Static"))
        {
            if (id == kTextId)
                ++textStatics;
            else if (!IsIconStatic(child))
                return false;
        }
        else if (HasClass(child, "Button"))
        {
            if (id < IDOK || id > IDCONTINUE)
                return false;
        }
        else
        {
            return false;
        }
    }
    return textStatics == 1;
}

std::string MessageBoxWindow::ReadText(HWND window)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length))
        length = static_cast<DWORD_PTR>(::GetWindowTextLengthA(window));
    // A message box text is at most a few thousand characters; a bound keeps
    // a confused answer from asking us for gigabytes.
    if (length > 65536)
        length = 65536;
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                               SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
        copied = static_cast<DWORD_PTR>(::GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size())));
    if (copied > length)
        copied = length;
    return std::string(buffer.data(), copied);
}

std::string MessageBoxWindow::Caption() const
{
    return ReadText(m_window);
}

std::string MessageBoxWindow::Text() const
{
    // Not GetDlgItem: whether it matches 0xFFFF against a sign-extended -1
    // differs between implementations.
    for (HWND child = ::GetWindow(m_window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    {
        if (ControlId(child) == kTextId && HasClass(child, "Static"))
            return ReadText(child);
    }
    return std::string();
}

HWND MessageBoxWindow::IconControl() const
{
    // Windows uses 0x14; Wine 8 uses 0x440 (stc1). Both are the one icon static.
    HWND icon = ::GetDlgItem(m_window, kIconId);
    if (icon && IsIconStatic(icon))
        return icon;
    for (HWND child = ::GetWindow(m_window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    {
        if (HasClass(child, "Static") && IsIconStatic(child))
            return child;
    }
    return nullptr;
}

bool MessageBoxWindow::HasOkButton() const
{
    return ::GetDlgItem(m_window, IDOK) != nullptr;
}

bool MessageBoxWindow::PressOk() const
{
    HWND ok = ::GetDlgItem(m_window, IDOK);
    if (!ok)
        return false;
    return ::PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok)) != FALSE;
}
