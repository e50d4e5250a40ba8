#pragma once
// A device context of one control with its own font selected, or the one
// given; the font is put back and the context released when it goes.

#include <windows.h>

#include <string>

class ControlDC {
public:
    explicit ControlDC(HWND control);
    ControlDC(HWND control, HFONT font);
    ~ControlDC();
    ControlDC(const ControlDC&) = delete;
    ControlDC& operator=(const ControlDC&) = delete;

    SIZE Extent(const std::string& text) const;
    TEXTMETRICA Metrics() const;

private:
    HWND m_hWnd;
    HDC m_hDC;
    HGDIOBJ m_hOldFont = nullptr;
};
