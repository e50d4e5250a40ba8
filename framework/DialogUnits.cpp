#include "DialogUnits.h"

namespace {

const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

} // namespace

CDialogUnits::CDialogUnits(HWND window, HFONT font)
{
    const HDC dc = ::GetDC(window);
    if (dc == nullptr) {
        const LONG units = ::GetDialogBaseUnits();
        m_nBaseX = LOWORD(units);
        m_nBaseY = HIWORD(units);
        return;
    }
    const HGDIOBJ old = font != nullptr ? ::SelectObject(dc, font) : nullptr;
    SIZE letters{};
    TEXTMETRICA metrics{};
    const bool measured = ::GetTextExtentPoint32A(dc, kLetters, sizeof(kLetters) - 1, &letters) != FALSE &&
                          ::GetTextMetricsA(dc, &metrics) != FALSE;
    if (old != nullptr)
        ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    if (measured) {
        // The average over 26 pairs, rounded: the dialog manager's own sum.
        m_nBaseX = (letters.cx / 26 + 1) / 2;
        m_nBaseY = metrics.tmHeight;
    }
    if (m_nBaseX <= 0 || m_nBaseY <= 0) {
        const LONG units = ::GetDialogBaseUnits();
        m_nBaseX = LOWORD(units);
        m_nBaseY = HIWORD(units);
    }
}
