#pragma once
// The system's common file open and save dialogs.

#include <windows.h>

#include <commdlg.h>

#include <string>
#include <vector>

class CWnd;
class FileDialogSystem;

class CFileDialog {
public:
    // `filter` lists description and pattern pairs, each followed by "|",
    // the list ending with "||": "Text Files(*.txt)|*.txt|All Files(*.*)|*.*||".
    // `defaultExt` (without the dot) is added to a name typed without an
    // extension. The dialog belongs to `parent`, or to the main window. It
    // is shown through `system`, or the system's own dialogs when null.
    CFileDialog(BOOL openFileDialog, const char* defaultExt = nullptr, const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr, FileDialogSystem* system = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user chose a file, IDCANCEL when the dialog was cancelled
    // or could not be shown (CommDlgExtendedError tells which).
    INT_PTR DoModal();
    // The chosen file's full path.
    std::string GetPathName() const;

    // Set up by the constructor; may be adjusted before DoModal.
    OPENFILENAMEA m_ofn;

private:
    BOOL m_bOpenFileDialog;
    CWnd* m_pParentWnd;
    FileDialogSystem* m_pSystem;
    std::string m_strDefExt;
    std::vector<char> m_filter;   // the filter with "|" turned into the NULs the system expects
    std::vector<char> m_fileName; // in: the initial name; out: the chosen path
};
