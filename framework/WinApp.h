#pragma once
// The application object. A program has exactly one, constructed before the
// entry point runs; AfxGetApp() finds it.

#include <windows.h>

#include <string>

#include "CmdTarget.h"

class CWnd;

// The standard help command.
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

class CWinApp : public CCmdTarget {
public:
    // With no name, the application title is the executable's file name
    // without its extension; it captions every message box.
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    // FALSE ends the program at once with ExitInstance's code.
    virtual BOOL InitInstance();
    // Pumps messages until WM_QUIT, then returns ExitInstance's code.
    virtual int Run();
    virtual int ExitInstance();

    HICON LoadIcon(UINT id) const;

    // Dialog controls have been three-dimensional since the system drew them
    // itself; the call stays so start-up code keeps its classic shape.
    void Enable3dControls();

    // The standard help command's handler. The program ships no help file,
    // so there is nothing to open; applications route ID_HELP here so that a
    // help key or button never falls through to another handler.
    void OnHelp();

    const char* m_pszAppName;
    CWnd* m_pMainWnd;
    HINSTANCE m_hInstance;
    LPSTR m_lpCmdLine;
    int m_nCmdShow;

protected:
    int m_nQuitCode; // wParam of the WM_QUIT that ended Run

private:
    friend BOOL AfxWinInit(HINSTANCE, HINSTANCE, LPSTR, int);
    std::string m_strAppName;
    CWinApp* m_pPreviousApp;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// Fills the application's instance, command line and title.
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR cmdLine, int nCmdShow);
// The program's body: AfxWinInit, InitInstance, then Run or ExitInstance.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR cmdLine, int nCmdShow);

// The running executable's file name without folder and extension.
std::string AfxGetModuleBaseName();
