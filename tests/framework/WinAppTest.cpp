// The program's body: AfxWinMain's path through InitInstance, Run and
// ExitInstance, with the test's own application objects standing in.

#include <gtest/gtest.h>

#include <stdexcept>

#include "Framework.h"

namespace {

class CScriptedApp : public CWinApp {
public:
    enum class Init { Fail, Succeed, SucceedWithWindow, Throw };

    explicit CScriptedApp(Init init) : m_init(init) {}
    ~CScriptedApp() override
    {
        if (m_window.m_hWnd != nullptr)
            ::DestroyWindow(m_window.Detach());
    }

    Init m_init;
    int m_runs = 0;
    int m_exits = 0;
    CWnd m_window;

    BOOL InitInstance() override
    {
        switch (m_init) {
        case Init::Fail:
            return FALSE;
        case Init::Succeed:
            return TRUE;
        case Init::SucceedWithWindow:
            m_window.Attach(::CreateWindowExA(0, "STATIC", "main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                              m_hInstance, nullptr));
            m_pMainWnd = &m_window;
            ::PostQuitMessage(3);
            return TRUE;
        case Init::Throw:
            throw std::runtime_error("init");
        }
        return FALSE;
    }
    int Run() override
    {
        ++m_runs;
        return CWinApp::Run();
    }
    int ExitInstance() override
    {
        ++m_exits;
        return CWinApp::ExitInstance() + 10;
    }
};

TEST(WinApp, AfxWinMainPaths)
{
    const struct {
        CScriptedApp::Init init;
        int exitCode;
        int runs;
        int exits;
    } rows[] = {
        /* 1 */ { CScriptedApp::Init::Fail, 10, 0, 1 },              // FALSE: no loop, ExitInstance's code
        /* 2 */ { CScriptedApp::Init::Succeed, 10, 1, 1 },           // no main window: nothing to wait for
        /* 3 */ { CScriptedApp::Init::SucceedWithWindow, 13, 1, 1 }, // the loop ends on WM_QUIT(3)
        /* 4 */ { CScriptedApp::Init::Throw, -1, 0, 0 },
    };
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE("row " + std::to_string(++n));
        CScriptedApp app(r.init);
        ASSERT_EQ(AfxGetApp(), &app);
        char cmdLine[] = "-x";
        EXPECT_EQ(AfxWinMain(::GetModuleHandleA(nullptr), nullptr, cmdLine, SW_SHOWMINIMIZED), r.exitCode);
        EXPECT_EQ(app.m_runs, r.runs);
        EXPECT_EQ(app.m_exits, r.exits);
        EXPECT_EQ(app.m_lpCmdLine, cmdLine);
        EXPECT_EQ(app.m_nCmdShow, SW_SHOWMINIMIZED);
        EXPECT_STREQ(app.m_pszAppName, "framework_tests");
    }
    // The test program's own object is back in place.
    ASSERT_NE(AfxGetApp(), nullptr);
    EXPECT_STREQ(AfxGetApp()->m_pszAppName, "framework_tests");
    EXPECT_EQ(AfxGetInstanceHandle(), ::GetModuleHandleA(nullptr));
}

} // namespace
