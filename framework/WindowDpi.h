#pragma once
// The dots per inch a window is drawn at, and the system measures that go
// with it. The per-window calls came with Windows 10 (1607 and later, 1703
// for dialogs); they are looked up when called, so that the program still
// starts on Windows 7 and 8, where it is at most system aware and every
// window has the system DPI.

#include <windows.h>

class CWindowDpi {
public:
    // The DPI everything was laid out for on a 100 % display.
    static constexpr UINT kDefault = 96;

    // The window's own DPI: its monitor's for a per-monitor aware window,
    // else the system DPI.
    static UINT ForWindow(HWND hWnd);
    // The DPI of the screen's device context: the one Windows started the
    // session (or the process) with.
    static UINT ForSystem();

    // GetSystemMetrics as a window at `dpi` sees it.
    static int SystemMetric(int index, UINT dpi);
    // AdjustWindowRectEx for a window at `dpi`: its frame and caption grow
    // with it.
    static BOOL AdjustWindowRect(RECT* rect, DWORD style, DWORD exStyle, UINT dpi);
    // The DPI the system draws a window's frame and its controls' own parts
    // at, for a window at `dpi`: `dpi` itself, except under per-monitor v1
    // awareness (Windows 10 1607), which draws them at the system DPI.
    static UINT ForSystemParts(UINT dpi);

    // Keeps the dialog manager from laying a dialog out anew from its
    // template when its DPI changes; the dialog does that itself. FALSE where
    // Windows has no such behaviour to turn off.
    static BOOL KeepDialogLayout(HWND dialog);

    // The DPI a WM_DPICHANGED carries (the vertical one, which sizes fonts).
    static UINT FromDpiChanged(WPARAM wParam) { return HIWORD(wParam); }
};
