#include "DataExchange.h"

#include <climits>
#include <cstdio>

#include "MessageBox.h"
#include "Wnd.h"

namespace {

const char kNotAnInteger[] = "Please enter an integer.";
const char kIntegerOutOfRange[] = "Please enter an integer between %1 and %2.";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

namespace {

enum class DialogInt { Integer, TooLarge, NotInteger };

// A decimal integer with optional blanks around it; one whose magnitude the
// 32-bit int cannot hold is still an integer, given as the nearest int.
DialogInt ParseDialogInt(const char* text, int& value)
{
    if (text == nullptr)
        return DialogInt::NotInteger;
    const char* p = text;
    while (IsBlank(*p))
        ++p;
    const char first = *p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!IsDigit(*p))
        return DialogInt::NotInteger;
    // Wide enough for the magnitude of the most negative int; past that only
    // the fact of overflow counts.
    long long magnitude = 0;
    bool overflow = false;
    for (; IsDigit(*p); ++p) {
        if (!overflow)
            magnitude = magnitude * 10 + (*p - '0');
        overflow = overflow || magnitude > 2147483648LL;
    }
    while (IsBlank(*p))
        ++p;
    if (*p != '\0')
        return DialogInt::NotInteger;
    const long long result = negative ? -magnitude : magnitude;
    if (overflow || result > 2147483647LL || result < -2147483647LL - 1) {
        value = negative ? INT_MIN : INT_MAX;
        return DialogInt::TooLarge;
    }
    // "-0" and "+0" are refused: a zero counts only when written with its digit first.
    if (result == 0 && first != '0')
        return DialogInt::NotInteger;
    value = static_cast<int>(result);
    return DialogInt::Integer;
}

} // namespace

BOOL AfxParseDialogInt(const char* text, int* value)
{
    int parsed = 0;
    if (value == nullptr || ParseDialogInt(text, parsed) != DialogInt::Integer)
        return FALSE;
    *value = parsed;
    return TRUE;
}

CDataExchange::CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate),
      m_pDlgWnd(dlgWnd),
      m_hWndLastControl(nullptr),
      m_bEditLastControl(false),
      m_bFailed(false)
{
}

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND hWnd = m_pDlgWnd != nullptr ? m_pDlgWnd->GetDlgItem(id) : nullptr;
    if (hWnd == nullptr) {
        // A template without the control is a programming error; ending the
        // exchange keeps every member as it was rather than half exchanged.
        Fail();
        return nullptr;
    }
    m_hWndLastControl = hWnd;
    m_bEditLastControl = false;
    return hWnd;
}

HWND CDataExchange::PrepareEditCtrl(int id)
{
    HWND hWnd = PrepareCtrl(id);
    if (hWnd != nullptr)
        m_bEditLastControl = true;
    return hWnd;
}

void CDataExchange::Fail()
{
    if (m_bFailed)
        return;
    m_bFailed = true;
    if (m_hWndLastControl != nullptr && m_bEditLastControl) {
        ::SetFocus(m_hWndLastControl);
        ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
}

bool CDataExchange::Failed() const
{
    return m_bFailed;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (pDX->Failed())
        return;
    // Re-bind when the dialog runs again: the old child is gone by then.
    HWND current = pDX->m_pDlgWnd != nullptr ? pDX->m_pDlgWnd->GetDlgItem(id) : nullptr;
    if (control.m_hWnd != nullptr && control.m_hWnd == current)
        return;
    if (HWND hWnd = pDX->PrepareCtrl(id)) {
        control.Detach();
        control.Attach(hWnd);
    }
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value)
{
    if (pDX->Failed())
        return;
    HWND hWnd = pDX->PrepareEditCtrl(id);
    if (hWnd == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = AfxGetWindowText(hWnd);
    else
        ::SetWindowTextA(hWnd, value.c_str());
}

void DDX_Text(CDataExchange* pDX, int id, int& value)
{
    if (pDX->Failed())
        return;
    HWND hWnd = pDX->PrepareEditCtrl(id);
    if (hWnd == nullptr)
        return;
    if (pDX->m_bSaveAndValidate) {
        int parsed = 0;
        // A number too large for an int is an integer all the same: the
        // member takes the nearest int, and a range check after this step
        // refuses it with the range message rather than calling it no integer.
        if (ParseDialogInt(AfxGetWindowText(hWnd).c_str(), parsed) == DialogInt::NotInteger) {
            AfxMessageBox(kNotAnInteger);
            pDX->Fail();
            return;
        }
        value = parsed;
    } else {
        char text[16];
        std::snprintf(text, sizeof text, "%d", value);
        ::SetWindowTextA(hWnd, text);
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value)
{
    if (pDX->Failed())
        return;
    HWND hWnd = pDX->PrepareCtrl(id);
    if (hWnd == nullptr)
        return;
    if (pDX->m_bSaveAndValidate) {
        value = static_cast<int>(::SendMessageA(hWnd, BM_GETCHECK, 0, 0));
    } else {
        // A button knows only these three states; anything else shows unchecked.
        const int state = (value >= BST_UNCHECKED && value <= BST_INDETERMINATE) ? value : BST_UNCHECKED;
        ::SendMessageA(hWnd, BM_SETCHECK, static_cast<WPARAM>(state), 0);
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal)
{
    if (pDX->Failed() || !pDX->m_bSaveAndValidate)
        return;
    if (value >= minVal && value <= maxVal)
        return;
    char low[16];
    char high[16];
    std::snprintf(low, sizeof low, "%d", minVal);
    std::snprintf(high, sizeof high, "%d", maxVal);
    AfxMessageBox(AfxFormatString2(kIntegerOutOfRange, low, high).c_str(), MB_ICONEXCLAMATION);
    pDX->Fail();
}
