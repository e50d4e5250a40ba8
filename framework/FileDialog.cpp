#include "FileDialog.h"

#include <algorithm>
#include <cstring>

#include "Win32FileDialogSystem.h"
#include "WinApp.h"
#include "Wnd.h"

namespace {

// Long enough for any path the dialog can return with OFN_LONGNAMES; a
// longer choice makes the dialog fail rather than cut the path short.
constexpr size_t kPathChars = 4096;

} // namespace

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent, FileDialogSystem* system)
    : m_ofn{}, m_bOpenFileDialog(openFileDialog), m_pParentWnd(parent), m_pSystem(system),
      m_fileName(kPathChars, '\0')
{
    if (defaultExt != nullptr)
        m_strDefExt = defaultExt;
    if (fileName != nullptr) {
        const size_t length = std::min(std::strlen(fileName), m_fileName.size() - 1);
        std::copy(fileName, fileName + length, m_fileName.begin());
    }
    if (filter != nullptr) {
        // The system wants each string NUL-terminated and the list ended by
        // an empty string; "|" is the readable form of those NULs.
        m_filter.assign(filter, filter + std::strlen(filter));
        for (char& c : m_filter) {
            if (c == '|')
                c = '\0';
        }
        m_filter.push_back('\0');
        m_filter.push_back('\0');
    }

    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filter.data();
    m_ofn.nFilterIndex = 1;
    m_ofn.lpstrFile = m_fileName.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_fileName.size());
    m_ofn.lpstrDefExt = m_strDefExt.empty() ? nullptr : m_strDefExt.c_str();
    m_ofn.Flags = flags;
}

INT_PTR CFileDialog::DoModal()
{
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (owner == nullptr) {
        const CWinApp* app = AfxGetApp();
        if (app != nullptr && app->m_pMainWnd != nullptr)
            owner = app->m_pMainWnd->GetSafeHwnd();
    }
    m_ofn.hwndOwner = owner;
    m_ofn.hInstance = AfxGetInstanceHandle();
    // OFN_NOCHANGEDIR is documented as ineffective for GetOpenFileName: the
    // open dialog leaves the current directory wherever the user browsed
    // (a USB stick then cannot be ejected while the program runs). So the
    // flag is kept here for both dialogs. Wide, so that a folder named in
    // letters outside the ANSI code page comes back whole.
    std::vector<wchar_t> keptDirectory;
    if ((m_ofn.Flags & OFN_NOCHANGEDIR) != 0) {
        // With no buffer the size comes with its terminator, with one without.
        const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
        keptDirectory.assign(needed, L'\0');
        const DWORD length = needed != 0 ? ::GetCurrentDirectoryW(needed, keptDirectory.data()) : 0;
        if (length == 0 || length >= needed)
            keptDirectory.clear();
    }
    Win32FileDialogSystem own;
    FileDialogSystem& system = m_pSystem != nullptr ? *m_pSystem : own;
    const BOOL chosen = m_bOpenFileDialog ? system.GetOpenFileNameA(&m_ofn) : system.GetSaveFileNameA(&m_ofn);
    if (!keptDirectory.empty())
        ::SetCurrentDirectoryW(keptDirectory.data());
    return chosen ? IDOK : IDCANCEL;
}

std::string CFileDialog::GetPathName() const
{
    if (m_ofn.lpstrFile == nullptr)
        return std::string();
    return std::string(m_ofn.lpstrFile, ::strnlen(m_ofn.lpstrFile, m_ofn.nMaxFile));
}
