#pragma once
// A window seen through its handle. CWnd never creates or destroys the window
// it wraps; dialogs get theirs from the dialog manager and controls are the
// dialog's children.

#include <windows.h>

#include <string>

#include "CmdTarget.h"

class CDataExchange;

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    HWND m_hWnd;

    HWND GetSafeHwnd() const;
    void Attach(HWND hWnd);
    HWND Detach();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    HICON SetIcon(HICON icon, BOOL bigIcon);
    void SetWindowText(const char* text);
    std::string GetWindowText() const;

    // The child's handle itself: a wrapper object would only dangle.
    HWND GetDlgItem(int id) const;
    UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const;
    void SetDlgItemText(int id, const char* text);
    std::string GetDlgItemText(int id) const;

    // Moves data between the members and the controls; FALSE when a step of
    // the exchange failed (the user has been told why).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);

    // Routes one message through the map chain. TRUE when a handler took it,
    // with its result; FALSE leaves the message to the default procedure.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Called by a handler: the message it is handling goes on to the default
    // procedure after the handler returns.
    void Default();

    // Base handlers a derived class can call from its own.
    void OnPaint();
    HCURSOR OnQueryDragIcon();

protected:
    BOOL CallHandler(const AFX_MSGMAP_ENTRY& entry, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    // While an exchange runs, notifications from the controls it writes to are
    // dropped so that a handler never sees its own members half exchanged.
    bool m_bNotifyLocked;
    bool m_bDefaultRequested;
};

// The whole text of any window.
std::string AfxGetWindowText(HWND hWnd);
