#include "ListBox.h"

#include <vector>

int CListBox::AddString(const char* text)
{
    return static_cast<int>(::SendMessageA(m_hWnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : "")));
}

int CListBox::GetCount() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, LB_GETCOUNT, 0, 0));
}

void CListBox::ResetContent()
{
    ::SendMessageA(m_hWnd, LB_RESETCONTENT, 0, 0);
}

std::string CListBox::GetText(int index) const
{
    const LRESULT length = ::SendMessageA(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR || length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied = ::SendMessageA(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(index),
                                          reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == LB_ERR || copied <= 0)
        return std::string();
    return std::string(buffer.data(), static_cast<size_t>(copied) < buffer.size() ? static_cast<size_t>(copied)
                                                                                 : buffer.size() - 1);
}
