#pragma once
// A modal dialog from a resource template, run by the system's own dialog
// box loop so that it behaves exactly like any other dialog box: EndDialog
// from OnInitDialog ends it before its loop runs, and message boxes opened
// from its handlers keep dispatching to it.

#include <windows.h>

#include "Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // The value given to EndDialog; -1 when the dialog could not be made or
    // its initialisation threw.
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    // From EndDialog until the dialog runs again. The window stays until the
    // system's loop lets go of it, and hiding it takes the focus from the
    // control that had it, which may still notify the dialog.
    bool IsEnding() const { return m_bEnding; }

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // Base: shows the members in the controls; TRUE lets the system place the focus.
    virtual BOOL OnInitDialog();

protected:
    // Base: ends with IDOK only if the controls' data passes the exchange.
    virtual void OnOK();
    // Base: ends with IDCANCEL.
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    bool m_bEnding = false;
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
