#pragma once
// Dialog data exchange without exceptions: the first failing step marks the
// exchange failed and every later DDX_/DDV_ call on it does nothing, so a
// DoDataExchange written as a plain list stops at the failing step with the
// earlier steps already done.

#include <windows.h>

#include <string>

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate);
    CDataExchange(const CDataExchange&) = delete;
    CDataExchange& operator=(const CDataExchange&) = delete;

    BOOL m_bSaveAndValidate; // TRUE: controls to members (and validate)
    CWnd* m_pDlgWnd;

    // The control's handle, remembered as the one to return the user to if a
    // later check fails. A missing control fails the exchange (null result).
    HWND PrepareCtrl(int id);
    HWND PrepareEditCtrl(int id);

    // Ends the exchange as failed and puts the keyboard focus back on the last
    // prepared control, its whole text selected when it is an edit.
    void Fail();
    bool Failed() const;

private:
    HWND m_hWndLastControl;
    bool m_bEditLastControl;
    bool m_bFailed;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// From the control: a decimal integer with optional blanks or tabs around it
// and nothing else; anything else is refused with a message. An integer too
// large for an int is taken as INT_MAX (INT_MIN when negative), for the range
// check that follows to refuse.
void DDX_Text(CDataExchange* pDX, int id, int& value);
// 0 for unchecked, 1 for checked (2 for an indeterminate three-state box).
void DDX_Check(CDataExchange* pDX, int id, int& value);
// Checked only when saving, like every validation.
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);

// The parse rule of the integer exchange, on its own: TRUE with the value, or
// FALSE for text that is not a whole 32-bit decimal integer.
BOOL AfxParseDialogInt(const char* text, int* value);
