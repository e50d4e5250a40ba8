#pragma once
// Dialog units in pixels for a font, by the dialog manager's own rule (as
// MapDialogRect applies it to a dialog's font): a horizontal unit is a
// quarter of the font's average character width, measured over the 52
// letters, a vertical unit an eighth of its height.
//
// MapDialogRect keeps the units of the font the dialog was created with; a
// dialog that makes itself a font for another DPI measures with this.

#include <windows.h>

class CDialogUnits {
public:
    // `font` measured on `window`'s device context; the system font if none.
    CDialogUnits(HWND window, HFONT font);

    int X(int dlu) const { return ::MulDiv(dlu, m_nBaseX, 4); }
    int Y(int dlu) const { return ::MulDiv(dlu, m_nBaseY, 8); }
    // The dialog units that cover `pixels`, rounded up.
    int FromX(int pixels) const { return (pixels * 4 + m_nBaseX - 1) / m_nBaseX; }
    int FromY(int pixels) const { return (pixels * 8 + m_nBaseY - 1) / m_nBaseY; }

    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

private:
    int m_nBaseX = 1;
    int m_nBaseY = 1;
};
