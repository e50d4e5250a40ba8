#include "MessageBox.h"

#include "WinApp.h"
#include "Wnd.h"

namespace {

UINT WithDefaultIcon(UINT type)
{
    if ((type & MB_ICONMASK) != 0)
        return type;
    switch (type & MB_TYPEMASK) {
    case MB_OK:
    case MB_OKCANCEL:
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return type | MB_ICONEXCLAMATION;
    default:
        // Retry boxes name their own icon when they want one.
        return type;
    }
}

HWND MessageBoxOwner()
{
    const CWinApp* app = AfxGetApp();
    HWND main = (app != nullptr && app->m_pMainWnd != nullptr) ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
    if (main != nullptr && ::IsWindow(main))
        return main;
    return ::GetActiveWindow();
}

} // namespace

int AfxMessageBox(const char* text, UINT type, UINT /*helpId*/)
{
    const CWinApp* app = AfxGetApp();
    const std::string caption = (app != nullptr && app->m_pszAppName != nullptr) ? std::string(app->m_pszAppName)
                                                                                 : AfxGetModuleBaseName();
    return ::MessageBoxA(MessageBoxOwner(), text != nullptr ? text : "", caption.c_str(), WithDefaultIcon(type));
}

std::string AfxFormatString2(const char* format, const char* s1, const char* s2)
{
    std::string result;
    if (format == nullptr)
        return result;
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && (p[1] == '1' || p[1] == '2')) {
            const char* insert = p[1] == '1' ? s1 : s2;
            if (insert != nullptr)
                result += insert;
            ++p;
        } else {
            result += *p;
        }
    }
    return result;
}
