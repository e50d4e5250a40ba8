#pragma once
// A GDI font the program created, deleted with its owner. A window that was
// given it with WM_SETFONT must be gone (or given another font) by then.

#include <windows.h>

class CFont {
public:
    CFont() = default;
    ~CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    // Replaces the font held, if any; FALSE when GDI made none.
    BOOL CreateFontIndirect(const LOGFONTA& logFont);
    void DeleteObject();
    HFONT GetSafeHandle() const { return m_hFont; }

private:
    HFONT m_hFont = nullptr;
};
