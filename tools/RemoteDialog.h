#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A dialog of another process (or of our own), driven through its controls as
// an operator would: buttons clicked, text typed into fields, static texts
// and list boxes read. Every message is sent with a timeout or posted, so a
// busy or hung program cannot hang the driver.
class RemoteDialog
{
public:
    explicit RemoteDialog(HWND dialog) : m_dialog(dialog) {}

    HWND Handle() const { return m_dialog; }
    HWND Control(int id) const;

    // A click on the button or check box. The driver does not wait for the
    // program's work (which may open a box or a file dialog to be answered);
    // WaitIdle afterwards tells when it is done. False without the control,
    // or when it is hidden or disabled, as an operator could not click it then.
    bool Click(int id) const;
    // A click on the close box of the dialog's caption.
    bool Close() const;
    // Replaces the text of an edit, or of the edit of a combo box, as typing
    // over a selection would; the control notifies its dialog as for typing.
    bool Type(int id, const std::string& text) const;

    std::string Text(int id) const;
    std::vector<std::string> ListItems(int id) const;
    bool IsEnabled(int id) const;
    bool IsVisible(int id) const;
    // The client area's size in pixels.
    SIZE ClientSize() const;

    // True once the program has handled everything sent before and is back
    // in a message loop (its own, or that of a box or dialog it shows). A
    // write burst's looks at the queue answer too, while the station's
    // controls are disabled.
    bool WaitIdle(DWORD timeoutMs) const;

private:
    HWND m_dialog;
};

// A visible top-level window of the process whose caption is `caption`, or null.
HWND FindTopLevelWindow(DWORD processId, const std::string& caption);
