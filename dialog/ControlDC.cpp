#include "ControlDC.h"

ControlDC::ControlDC(HWND control)
    : ControlDC(control, reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)))
{
}

ControlDC::ControlDC(HWND control, HFONT font) : m_hWnd(control), m_hDC(::GetDC(control))
{
    if (m_hDC != nullptr && font != nullptr)
        m_hOldFont = ::SelectObject(m_hDC, font);
}

ControlDC::~ControlDC()
{
    if (m_hDC == nullptr)
        return;
    if (m_hOldFont != nullptr)
        ::SelectObject(m_hDC, m_hOldFont);
    ::ReleaseDC(m_hWnd, m_hDC);
}

SIZE ControlDC::Extent(const std::string& text) const
{
    SIZE size{};
    if (m_hDC != nullptr)
        ::GetTextExtentPoint32A(m_hDC, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

TEXTMETRICA ControlDC::Metrics() const
{
    TEXTMETRICA metrics{};
    if (m_hDC != nullptr)
        ::GetTextMetricsA(m_hDC, &metrics);
    return metrics;
}
