// A stand-in GUI program for testing the UI driver: shows message boxes and
// dialogs as told by its one argument and exits with a code that tells what
// the driver did to them.

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "SampleBoxesIds.h"

namespace
{
constexpr int kAllAnsweredWithOk = 42;
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kDialogLifeMs = 700;

// Every box, each with a different icon and line layout; the exit code tells
// which box, if any, was answered with anything but OK.
int ShowBoxes()
{
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    const char* value = std::getenv("SAMPLE_VALUE");
    const std::string environment =
        std::string("SAMPLE_VALUE=") + (value ? value : "(unset)") + "\r\nfolder=" + folder;

    const struct
    {
        const char* caption;
        std::string text;
        UINT style;
    } boxes[] = {
        {"Sample stop", "First line\nSecond \"quoted\" line", MB_ICONSTOP},
        {"Sample question", environment, MB_ICONQUESTION},
        {"Sample exclamation", "Tab\there, back\\slash", MB_ICONEXCLAMATION},
        {"Sample information", "one\ntwo\nthree", MB_ICONINFORMATION},
        {"Sample plain", "No icon", 0},
    };
    int index = 0;
    for (const auto& box : boxes)
    {
        ++index;
        if (::MessageBoxA(nullptr, box.text.c_str(), box.caption, MB_OK | box.style) != IDOK)
            return 100 + index;
    }
    return kAllAnsweredWithOk;
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
        ::SetTimer(dialog, kCloseTimer, kDialogLifeMs, nullptr);
        return TRUE;
    case WM_TIMER:
        ::KillTimer(dialog, kCloseTimer);
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

// A dialog the driver must leave alone: it closes itself with IDCANCEL; IDOK
// means the driver took it for a message box.
int ShowDialogThenBox(HINSTANCE instance)
{
    const INT_PTR result = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SAMPLE_SETTINGS), nullptr, SettingsProc, 0);
    const std::string text = "Dialog returned " + std::to_string(static_cast<long long>(result));
    ::MessageBoxA(nullptr, text.c_str(), "Sample after dialog", MB_OK | MB_ICONINFORMATION);
    return static_cast<int>(result);
}

// One box; the exit code is how long it stayed up, in tens of milliseconds.
int ShowTimedBox()
{
    const DWORD shown = ::GetTickCount();
    ::MessageBoxA(nullptr, "Held", "Sample timed", MB_OK);
    return static_cast<int>(std::min<DWORD>((::GetTickCount() - shown) / 10, 255));
}

// One box, always the same: the test learns where its icon lands.
int ShowSingleBox()
{
    return ::MessageBoxA(nullptr, "Alone", "Sample single", MB_OK | MB_ICONSTOP) == IDOK ? 0 : 1;
}

// A box with no OK button: any answer from the driver would be a guess.
int ShowYesNoBox()
{
    switch (::MessageBoxA(nullptr, "Proceed?", "Sample yes/no", MB_YESNO | MB_ICONQUESTION))
    {
    case IDYES: return 6;
    case IDNO: return 7;
    default: return 1;
    }
}
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    const std::string mode = commandLine ? commandLine : "";
    if (mode == "dialog")
        return ShowDialogThenBox(instance);
    if (mode == "timed")
        return ShowTimedBox();
    if (mode == "single")
        return ShowSingleBox();
    if (mode == "yesno")
        return ShowYesNoBox();
    if (mode == "sleep")
    {
        // No window at all, and no end.
        for (;;)
            ::Sleep(1000);
    }
    return ShowBoxes();
}
