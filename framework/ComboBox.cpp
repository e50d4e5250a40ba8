#include "ComboBox.h"

#include <vector>

int CComboBox::AddString(const char* text)
{
    return static_cast<int>(::SendMessageA(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : "")));
}

int CComboBox::GetCount() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0));
}

void CComboBox::ResetContent()
{
    ::SendMessageA(m_hWnd, CB_RESETCONTENT, 0, 0);
}

std::string CComboBox::GetLBText(int index) const
{
    const LRESULT length = ::SendMessageA(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied = ::SendMessageA(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                          reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == CB_ERR || copied <= 0)
        return std::string();
    return std::string(buffer.data(), static_cast<size_t>(copied) < buffer.size() ? static_cast<size_t>(copied)
                                                                                 : buffer.size() - 1);
}
