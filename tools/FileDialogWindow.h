#pragma once

#include <windows.h>

#include <string>

// The system's file open or save dialog, answered from outside (or from a
// hook in the same process) as a user would: a path typed into the file name
// field and the dialog's OK button pressed, or the dialog cancelled.
class FileDialogWindow
{
public:
    // True for a common file dialog; false for message boxes and other dialogs.
    static bool Recognise(HWND window);

    explicit FileDialogWindow(HWND window) : m_window(window) {}

    std::string Title() const;
    // Types `path` into the file name field and presses OK (posted).
    bool Choose(const std::string& path) const;
    // Presses Cancel (posted).
    bool Cancel() const;

private:
    HWND FileNameField() const;

    HWND m_window;
};
