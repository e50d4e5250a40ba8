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
    // A font made aside takes the place of the one held once the windows
    // have been given it; the one held is deleted then, not before.
    CFont(CFont&& other) noexcept;
    CFont& operator=(CFont&& other) noexcept;

    // Replaces the font held, if any; FALSE when GDI made none.
    BOOL CreateFontIndirect(const LOGFONTA& logFont);
    // `logFont`, made for `fromDpi`, drawn the same size on a display of
    // `toDpi`: its height (and width, if given) scaled.
    BOOL CreateScaled(const LOGFONTA& logFont, UINT toDpi, UINT fromDpi);
    void DeleteObject();
    HFONT GetSafeHandle() const { return m_hFont; }

private:
    HFONT m_hFont = nullptr;
};
