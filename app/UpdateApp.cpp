#include "UpdateApp.h"

#include "HidSystemFactory.h"
#include "UpdateDlg.h"

#include <string>

// The one application object. With no name given, the framework titles every
// message box with the executable's base name.
CUpdateApp theApp;

BEGIN_MESSAGE_MAP(CUpdateApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CUpdateApp::CUpdateApp() = default;

BOOL CUpdateApp::InitInstance()
{
    Enable3dControls();

    std::string error;
    m_system = CreateHidSystem(&error);
    if (!m_system) {
        // Only the demo executable can fail here (a scenario it cannot use).
        AfxMessageBox(error.c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }

    {
        CUpdateDlg dlg(*m_system);
        PrepareDialog(dlg);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    m_system.reset();

    // No message loop: the process ends once the dialog has done its work.
    return FALSE;
}
