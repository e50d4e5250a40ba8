#include "WindowDpi.h"

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
using GetThreadDpiAwarenessContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
using AreDpiAwarenessContextsEqualFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);

// DIALOG_DPI_CHANGE_BEHAVIORS' DDC_DISABLE_ALL, which the headers declare
// only for Windows 10 targets.
constexpr int kDialogDpiChangeDisableAll = 0x0001;

template <typename Fn>
Fn User32Function(const char* name)
{
    const HMODULE user32 = ::GetModuleHandleA("user32.dll");
    if (user32 == nullptr)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

} // namespace

// Per-monitor v2 (Windows 10 1703 and later) draws a window's frame and
// caption, and the controls their check boxes and scroll bars, at the
// window's DPI. Per-monitor v1, all that Windows 10 1607 offers, scales
// none of them: they stay at the system DPI while the window's own DPI
// follows its monitor, and a layout that took them at the window's DPI
// would be cut off or left with gaps.
UINT CWindowDpi::ForSystemParts(UINT dpi)
{
    const auto current = User32Function<GetThreadDpiAwarenessContextFn>("GetThreadDpiAwarenessContext");
    const auto equal = User32Function<AreDpiAwarenessContextsEqualFn>("AreDpiAwarenessContextsEqual");
    if (current != nullptr && equal != nullptr && equal(current(), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE))
        return ForSystem();
    return dpi;
}

UINT CWindowDpi::ForWindow(HWND hWnd)
{
    if (const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow")) {
        // 0 for a handle that is no window.
        const UINT dpi = getDpiForWindow(hWnd);
        if (dpi != 0)
            return dpi;
    }
    return ForSystem();
}

UINT CWindowDpi::ForSystem()
{
    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr)
        return kDefault;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefault;
}

// Without the per-DPI call the process is at most system aware, so every
// window it has is at the system DPI and the plain metric is its own; a
// metric for another DPI is scaled from it.
int CWindowDpi::SystemMetric(int index, UINT dpi)
{
    dpi = ForSystemParts(dpi);
    if (const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi"))
        return forDpi(index, dpi);
    const UINT system = ForSystem();
    const int metric = ::GetSystemMetrics(index);
    return dpi == system ? metric : ::MulDiv(metric, static_cast<int>(dpi), static_cast<int>(system));
}

BOOL CWindowDpi::AdjustWindowRect(RECT* rect, DWORD style, DWORD exStyle, UINT dpi)
{
    dpi = ForSystemParts(dpi);
    if (const auto forDpi = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi"))
        return forDpi(rect, style, FALSE, exStyle, dpi);
    return ::AdjustWindowRectEx(rect, style, FALSE, exStyle);
}

BOOL CWindowDpi::KeepDialogLayout(HWND dialog)
{
    const auto setBehavior = User32Function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
    if (setBehavior == nullptr)
        return FALSE;
    return setBehavior(dialog, kDialogDpiChangeDisableAll, kDialogDpiChangeDisableAll);
}
