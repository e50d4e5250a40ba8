#pragma once

#include <windows.h>

#include <string>

// A top-level window of another process that is a message box, read and
// answered from outside.
class MessageBoxWindow
{
public:
    // Control IDs Windows gives a message box's text and icon.
    static constexpr int kTextId = 0xFFFF;
    static constexpr int kIconId = 0x14;

    // True for a standard message box; false for any other window, including
    // ordinary dialogs that share its window class.
    static bool Recognise(HWND window);

    // The window's text, asked with a timeout so that a hung program cannot
    // hang us too.
    static std::string ReadText(HWND window);

    explicit MessageBoxWindow(HWND window) : m_window(window) {}

    std::string Caption() const;
    std::string Text() const;

    // The static that shows the icon, or null when the box has none.
    HWND IconControl() const;

    bool HasOkButton() const;
    // Answers the box as a click on OK would. Posted, so the program's own
    // message loop does the work, as it would for a real click.
    bool PressOk() const;

private:
    HWND m_window;
};
