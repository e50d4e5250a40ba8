#pragma once
// Knows when the dialog is in the middle of a burst of transfers to the
// tablet, from the decision to make them to the last one, and keeps the rest
// of the system from cutting it in half: a tablet left with new bytes at the
// start of its EEPROM and old ones after them no longer works.
//
// While a burst runs:
// - an end of session is refused, with a reason the shutdown screen shows,
//   and the system's idle sleep is held off;
// - a removal query for the open tablet is refused (the dialog asks);
// - the dialog's controls that take input are disabled, and any command that
//   still reaches the dialog is dropped (the dialog asks);
// - the thread looks at its queue only through Answer(), which takes no
//   input and dispatches nothing posted.
// Everything is given back when the burst ends, or when this object goes.
//
// Why the order cannot be wrong: a burst begins only through a Scope, which
// begins it before it first looks at the queue and only then takes the
// decisions the transfers depend on. Whatever was granted before (an end of
// session, a removal that closed the tablet) is seen by those decisions, and
// from the beginning on nothing can be granted any more. The progress
// display can count only inside a burst (it is handed the Scope), and looks
// at the queue only through the burst, which never looks once it is over.
// So a new writing path that shows progress or waits on the queue gets the
// burst's guard or no look at all, whatever order its lines come in; what it
// does before its Scope (a message box, a file dialog) cannot leave a grant
// behind that its writes do not know about.

#include <windows.h>

#include <vector>

class CTabletEeprom;

class CWriteBurst {
public:
    // Why a burst's transfers may not be made.
    enum class Refusal {
        None,
        Nested,         // a burst runs already: its writer owns the tablet
        SessionEnding,  // an end of session was granted: it may come at any moment
        RemovalPending, // the tablet was closed for a removal query that was granted
        NoTablet,       // none is open, and the burst writes only one already open
    };
    // Whether the burst's writes go to the tablet already open (Set All), or
    // the burst opens one itself or reports a missing one in its own way.
    enum class Tablet { MayBeClosed, MustBeOpen };

    CWriteBurst() = default;
    ~CWriteBurst();
    CWriteBurst(const CWriteBurst&) = delete;
    CWriteBurst& operator=(const CWriteBurst&) = delete;

    bool IsRunning() const { return m_hDialog != nullptr; }

    // The burst's look at the queue: messages other threads send (device
    // changes, the session's questions) are delivered by the retrieval
    // itself and answered as above, input for the dialog and its
    // descendants (keys, mouse, pen and touch) is taken off the queue and
    // dropped, and paint is dispatched. Input for other windows of the
    // thread (a file dialog or menu whose loop is hosting the burst) stays
    // queued for them. Nothing at all while no burst runs.
    void Answer();

    // The answer to WM_QUERYENDSESSION: refused while a burst runs. Windows
    // asks once; after a yes, WM_ENDSESSION may come at any moment (another
    // program can hold the shutdown for minutes first), so from then on no
    // burst may write until WM_ENDSESSION says the session goes on.
    BOOL AnswerQueryEndSession();
    // WM_ENDSESSION: `ending` FALSE, the session goes on; TRUE, it ends (or
    // the program is asked to close) as soon as the handler returns.
    void EndSessionDecided(BOOL ending);
    // True from an end of session granted (or forced) until it is called off.
    bool SessionEnding() const { return m_bSessionEnding; }

    // Enables or disables a control. While a burst runs, a control it holds
    // disabled gets that state when the burst ends, and stays disabled until
    // then.
    void EnableControl(HWND control, BOOL enable);

    // A burst for the scope: begun (unless one runs already) before anything
    // else, then the queue answered once, then the decisions taken. Ends
    // only the burst it began, at End or when it goes.
    class Scope {
    public:
        Scope(CWriteBurst& burst, HWND dialog, const CTabletEeprom& tablet,
              Tablet needs = Tablet::MayBeClosed);
        ~Scope() { End(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

        // None: the tablet may be written. Otherwise nothing may be sent to
        // it, and the operator should hear why once the burst is over.
        Refusal Refused() const { return m_refusal; }
        // Ends the burst before the scope goes, for what must not run inside
        // one (a message box: its loop dispatches everything).
        void End();
        CWriteBurst& Burst() const { return m_burst; }

    private:
        CWriteBurst& m_burst;
        bool m_bBegan;
        Refusal m_refusal = Refusal::None;
    };

private:
    struct HeldControl {
        HWND window;
        BOOL enabledAfter;
    };

    // Begins a burst for the dialog, a top-level window of this thread.
    // False, and nothing done, while one is running already.
    bool Begin(HWND dialog);
    void End();
    bool KeepQuit(const MSG& msg);
    void HoldControls();
    void ReleaseControls();

    HWND m_hDialog = nullptr;
    std::vector<HeldControl> m_held;
    HWND m_hFocus = nullptr;
    bool m_bReasonShown = false;
    bool m_bSessionEnding = false;
    bool m_bQuitTaken = false;
    int m_quitCode = 0;
    EXECUTION_STATE m_previousExecutionState = 0;
};
