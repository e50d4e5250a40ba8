#include "FileDialogWindow.h"

#include <dlgs.h>

#include "MessageBoxWindow.h"

namespace
{
constexpr UINT kMessageTimeoutMs = 5000;

bool HasClass(HWND window, const char* className)
{
    char name[64] = {};
    return ::GetClassNameA(window, name, static_cast<int>(sizeof(name))) > 0 && ::lstrcmpiA(name, className) == 0;
}
}

// The file name field is a combo box (cmb13) in the newer dialogs of Windows
// and an edit (edt1) in the older ones and in Wine's; no other dialog of ours
// has either id.
HWND FileDialogWindow::FileNameField() const
{
    if (HWND combo = ::GetDlgItem(m_window, cmb13))
        return combo;
    return ::GetDlgItem(m_window, edt1);
}

bool FileDialogWindow::Recognise(HWND window)
{
    if (!HasClass(window, "#32770") || MessageBoxWindow::Recognise(window))
        return false;
    return FileDialogWindow(window).FileNameField() != nullptr && ::GetDlgItem(window, IDOK) != nullptr;
}

std::string FileDialogWindow::Title() const
{
    return MessageBoxWindow::ReadText(m_window);
}

bool FileDialogWindow::Choose(const std::string& path) const
{
    HWND field = FileNameField();
    DWORD_PTR result = 0;
    if (field == nullptr ||
        !::SendMessageTimeoutA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG,
                               kMessageTimeoutMs, &result))
        return false;
    HWND ok = ::GetDlgItem(m_window, IDOK);
    return ::PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok)) != FALSE;
}

bool FileDialogWindow::Cancel() const
{
    HWND cancel = ::GetDlgItem(m_window, IDCANCEL);
    return ::PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel)) !=
           FALSE;
}
