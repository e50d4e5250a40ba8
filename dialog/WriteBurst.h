#pragma once
// Knows when the dialog is in the middle of a burst of transfers to the
// tablet, from its first transfer to its last, and keeps the rest of the
// system from cutting it in half: a tablet left with new bytes at the start
// of its EEPROM and old ones after them no longer works.
//
// While a burst runs:
// - an end of session is refused, with a reason the shutdown screen shows,
//   and the system's idle sleep is held off;
// - a removal query for the open tablet is refused (the dialog asks);
// - the dialog's controls that take input are disabled, and any command that
//   still reaches the dialog is dropped (the dialog asks).
// Everything is given back when the burst ends, or when this object goes.
// Once an end of session has been granted, no burst may begin (the dialog
// asks) until the session is known to go on.

#include <windows.h>

#include <vector>

class CWriteBurst {
public:
    CWriteBurst() = default;
    ~CWriteBurst();
    CWriteBurst(const CWriteBurst&) = delete;
    CWriteBurst& operator=(const CWriteBurst&) = delete;

    // Begins a burst for the dialog, a top-level window of this thread.
    // False, and nothing done, while one is running already.
    bool Begin(HWND dialog);
    // Ends the running burst, if any.
    void End();
    bool IsRunning() const { return m_hDialog != nullptr; }

    // The answer to WM_QUERYENDSESSION: refused while a burst runs. Windows
    // asks once; after a yes, WM_ENDSESSION may come at any moment (another
    // program can hold the shutdown for minutes first), so from then on no
    // burst may begin until WM_ENDSESSION says the session goes on.
    BOOL AnswerQueryEndSession();
    // WM_ENDSESSION: `ending` FALSE, the session goes on; TRUE, it ends as
    // soon as the handler returns, and nothing may begin any more.
    void EndSessionDecided(BOOL ending);
    // True from an end of session granted (or forced) until it is called off.
    bool SessionEnding() const { return m_bSessionEnding; }

    // Enables or disables a control. While a burst runs, a control it holds
    // disabled gets that state when the burst ends, and stays disabled until
    // then.
    void EnableControl(HWND control, BOOL enable);

    // Begins a burst for the scope, unless one is running; ends only the
    // burst it began.
    class Scope {
    public:
        Scope(CWriteBurst& burst, HWND dialog) : m_burst(burst), m_bBegan(burst.Begin(dialog)) {}
        ~Scope()
        {
            if (m_bBegan)
                m_burst.End();
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CWriteBurst& m_burst;
        bool m_bBegan;
    };

private:
    struct HeldControl {
        HWND window;
        BOOL enabledAfter;
    };

    void HoldControls();
    void ReleaseControls();

    HWND m_hDialog = nullptr;
    std::vector<HeldControl> m_held;
    HWND m_hFocus = nullptr;
    bool m_bReasonShown = false;
    bool m_bSessionEnding = false;
    EXECUTION_STATE m_previousExecutionState = 0;
};
