#include "WinApp.h"

#include <vector>

#include "Wnd.h"

namespace {

// The application object, registered by its constructor. Another one made
// while it lives (a test's own) takes over until it is destroyed.
CWinApp* g_pApp = nullptr;

std::string ModuleFileName()
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        // A full buffer means the name was cut short (and may lack its terminator).
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        if (buffer.size() >= 32768)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

std::string AfxGetModuleBaseName()
{
    std::string name = ModuleFileName();
    const std::string::size_type slash = name.find_last_of("\\/:");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0)
        name.erase(dot);
    return name;
}

CWinApp::CWinApp(const char* appName)
    : m_pszAppName(nullptr),
      m_pMainWnd(nullptr),
      m_hInstance(::GetModuleHandleA(nullptr)),
      m_lpCmdLine(nullptr),
      m_nCmdShow(SW_SHOWNORMAL),
      m_nQuitCode(0),
      m_strAppName(appName != nullptr ? appName : AfxGetModuleBaseName()),
      m_pPreviousApp(g_pApp)
{
    m_pszAppName = m_strAppName.c_str();
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = m_pPreviousApp;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    if (m_pMainWnd == nullptr || m_pMainWnd->GetSafeHwnd() == nullptr) {
        // Nothing could ever post the WM_QUIT that ends the loop.
        return ExitInstance();
    }
    MSG msg;
    for (;;) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            m_nQuitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) {
            m_nQuitCode = -1;
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    return m_nQuitCode;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id));
}

void CWinApp::Enable3dControls() {}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle()
{
    if (g_pApp != nullptr && g_pApp->m_hInstance != nullptr)
        return g_pApp->m_hInstance;
    return ::GetModuleHandleA(nullptr);
}

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPSTR cmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return FALSE;
    if (hInstance != nullptr)
        app->m_hInstance = hInstance;
    app->m_lpCmdLine = cmdLine;
    app->m_nCmdShow = nCmdShow;
    if (app->m_strAppName.empty()) {
        app->m_strAppName = AfxGetModuleBaseName();
        app->m_pszAppName = app->m_strAppName.c_str();
    }
    return TRUE;
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR cmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (app == nullptr || !AfxWinInit(hInstance, hPrevInstance, cmdLine, nCmdShow))
        return -1;
    try {
        if (!app->InitInstance())
            return app->ExitInstance();
        return app->Run();
    } catch (...) {
        // Nothing reaches the user from here; the exit code at least tells a
        // caller that the program did not end normally.
        return -1;
    }
}
