#pragma once
// A dialog on the real template that runs a test's body from inside its own
// message loop (the dialog is up and active by then) and then ends itself.

#include <functional>
#include <vector>

#include "Framework.h"
#include "resource.h"

constexpr UINT kMsgRunBody = WM_APP + 1;
constexpr UINT kMsgBaseOnly = WM_APP + 2;  // mapped by the base class only
constexpr UINT kMsgBoth = WM_APP + 3;      // mapped by both classes
constexpr UINT kMsgResult = WM_APP + 4;    // returns m_nextResult
constexpr UINT kMsgNested = WM_APP + 5;    // sends kMsgResult to itself first
constexpr UINT kMsgThrow = WM_APP + 6;
constexpr UINT kMsgCount = WM_APP + 7;     // counts, noting whether a box was open
constexpr UINT kMsgExchange = WM_APP + 8;  // runs UpdateData(FALSE)
constexpr INT_PTR kBodyDone = 1000;        // DoModal's result after a body
constexpr INT_PTR kWatchdogFired = -2;

class CProbeBase : public CDialog {
public:
    CProbeBase() : CDialog(IDD_UPDATE_DIALOG) {}

protected:
    LRESULT OnBaseOnly(WPARAM, LPARAM) { return 1; }
    LRESULT OnBothInBase(WPARAM, LPARAM) { return 2; }

    DECLARE_MESSAGE_MAP()
};

class CProbeDialog : public CProbeBase {
public:
    using Body = std::function<void(CProbeDialog&)>;
    using Exchange = std::function<void(CDataExchange*)>;

    // What OnInitDialog does after the base initialisation.
    enum class InitMode { RunBody, EndAtOnce, MessageBoxThenEnd, Throw };

    CProbeDialog(Body body, Exchange exchange = {}) : m_body(std::move(body)), m_exchange(std::move(exchange)) {}

    InitMode m_initMode = InitMode::RunBody;
    int m_initEndResult = 0;       // EndAtOnce / MessageBoxThenEnd
    bool m_endAfterBody = true;    // false: the body ends the dialog itself
    bool m_paintCallsDefault = true;
    bool m_boxOpen = false;        // true while OnInitDialog's message box is up
    LRESULT m_nextResult = 0;

    // Handler calls, in order: "OnGet", "OnKillFocus", ...
    std::vector<std::string> m_calls;
    // For each kMsgCount: was the message box of OnInitDialog open?
    std::vector<bool> m_countedWithBoxOpen;
    int m_paints = 0;
    int m_okCalls = 0;
    bool m_overrideOK = false;     // count OnOK instead of running the base

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;

    LRESULT OnRunBody(WPARAM, LPARAM);
    LRESULT OnBothInDerived(WPARAM, LPARAM) { return 3; }
    LRESULT OnResult(WPARAM, LPARAM) { return m_nextResult; }
    LRESULT OnNested(WPARAM, LPARAM);
    LRESULT OnThrow(WPARAM, LPARAM);
    LRESULT OnCount(WPARAM, LPARAM);
    LRESULT OnExchange(WPARAM, LPARAM);
    LRESULT OnTimer(WPARAM, LPARAM);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnGet() { m_calls.push_back("OnGet"); }
    void OnEditChange() { m_calls.push_back("OnEditChange"); }
    void OnEditUpdate() { m_calls.push_back("OnEditUpdate"); }
    void OnEditKillFocus() { m_calls.push_back("OnEditKillFocus"); }
    void OnAccelerator() { m_calls.push_back("OnAccelerator"); }

    DECLARE_MESSAGE_MAP()

private:
    Body m_body;
    Exchange m_exchange;
};

constexpr UINT kCmdAccelerator = 40001;
constexpr UINT kCmdForApp = 40002;
