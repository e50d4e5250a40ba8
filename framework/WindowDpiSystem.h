#pragma once
// The DPIs CWindowDpi reads, as one interface, so that a test can show a
// window what Windows shows where Wine cannot: Wine has one DPI for every
// monitor, while Windows draws a per-monitor aware window at its monitor's,
// which need not be the one the session started with.

#include <windows.h>

class WindowDpiSystem {
public:
    virtual ~WindowDpiSystem() = default;

    // As CWindowDpi::ForWindow and CWindowDpi::ForSystem.
    virtual UINT ForWindow(HWND hWnd) = 0;
    virtual UINT ForSystem() = 0;
};
