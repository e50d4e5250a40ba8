#include "UpdateApp.h"

#include "HidSystemFactory.h"
#include "UpdateDlg.h"

#include <cctype>
#include <string>

namespace {

bool ShiftHeld()
{
    // The key state of a thread that has not yet read any input may lag
    // behind the keyboard; the asynchronous state is the keyboard's own.
    return (::GetKeyState(VK_SHIFT) & 0x8000) != 0 || (::GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
}

// "/service" as one of the words of the command line, in any case.
bool ServiceSwitchGiven(const char* commandLine)
{
    if (commandLine == nullptr)
        return false;
    const std::string wanted = "/service";
    const char* p = commandLine;
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t')
            ++p;
        std::string word;
        while (*p != '\0' && *p != ' ' && *p != '\t')
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
        if (word == wanted)
            return true;
    }
    return false;
}

const char kAlreadyRunning[] =
    "TabletUpdate is already running.\n"
    "Let it finish, or close it, before you start it again.";

} // namespace

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

    // Before anything else: a second copy makes no device side at all, so
    // it opens no tablet and (in the demo) leaves the trace file alone.
    if (m_instance.Take() == CSingleInstance::Claim::AnotherCopyRuns) {
        AfxMessageBox(kAlreadyRunning, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    std::string error;
    m_system = CreateHidSystem(&error);
    if (!m_system) {
        // The product fails here without a usable hid.dll in the system
        // folder, the demo executable with a scenario it cannot use.
        AfxMessageBox(error.c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }

    {
        CUpdateDlg dlg(*m_system);
        // Shift held at start, or the switch, opens the service station;
        // otherwise the one-shot update runs as it always has.
        dlg.m_bServiceMode = ShiftHeld() || ServiceSwitchGiven(m_lpCmdLine);
        PrepareDialog(dlg);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    m_system.reset();

    // No message loop: the process ends once the dialog has done its work.
    return FALSE;
}
