#include "WriteBurst.h"

#include <commctrl.h>

namespace {

// Shown by Windows on its shutdown screen next to the program's name, while
// an end of session waits for us.
const wchar_t kShutdownReason[] = L"Updating the tablet. Do not turn off the computer.";

// Static texts and the progress bar take no input and start nothing; a
// disabled text would only turn grey while the operator reads it.
bool TakesInput(HWND control)
{
    char className[32] = {};
    if (::GetClassNameA(control, className, sizeof(className)) == 0)
        return true;
    return ::lstrcmpiA(className, "Static") != 0 && ::lstrcmpiA(className, PROGRESS_CLASSA) != 0;
}

} // namespace

CWriteBurst::~CWriteBurst()
{
    End();
}

bool CWriteBurst::Begin(HWND dialog)
{
    if (IsRunning() || dialog == nullptr)
        return false;
    m_hDialog = dialog;

    // Returning FALSE to WM_QUERYENDSESSION is what refuses the end of the
    // session; the reason only tells the user why. Windows wants it set when
    // the operation that must not be cut begins, for the application's
    // top-level window, from the thread that made it. (Wine does not
    // implement the reason and fails the call; nothing depends on it.)
    m_bReasonShown = ::ShutdownBlockReasonCreate(dialog, kShutdownReason) != FALSE;

    // The system must not go to sleep for want of input during the burst:
    // ES_CONTINUOUS keeps the requirement until it is cleared. The previous
    // state comes back, or 0 when the call failed.
    m_previousExecutionState = ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);

    HoldControls();
    return true;
}

void CWriteBurst::End()
{
    if (!IsRunning())
        return;
    ReleaseControls();

    if (m_previousExecutionState != 0) {
        // A call with ES_CONTINUOUS alone clears the thread's continuous
        // requirements; one that had some before gets them back.
        const EXECUTION_STATE kept =
            ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_AWAYMODE_REQUIRED;
        const EXECUTION_STATE previous = m_previousExecutionState & kept;
        ::SetThreadExecutionState((previous & ES_CONTINUOUS) != 0 ? previous : ES_CONTINUOUS);
        m_previousExecutionState = 0;
    }
    if (m_bReasonShown && ::IsWindow(m_hDialog))
        ::ShutdownBlockReasonDestroy(m_hDialog);
    m_bReasonShown = false;
    m_hDialog = nullptr;
}

BOOL CWriteBurst::AnswerQueryEndSession()
{
    if (IsRunning())
        return FALSE;
    m_bSessionEnding = true;
    return TRUE;
}

// A refused end of session that the user forces all the same ends with
// WM_ENDSESSION TRUE too, without a yes from us.
void CWriteBurst::EndSessionDecided(BOOL ending)
{
    m_bSessionEnding = ending != FALSE;
}

void CWriteBurst::EnableControl(HWND control, BOOL enable)
{
    for (HeldControl& held : m_held) {
        if (held.window == control) {
            held.enabledAfter = enable ? TRUE : FALSE;
            return;
        }
    }
    ::EnableWindow(control, enable ? TRUE : FALSE);
}

// A disabled control takes no click from the mouse; one that has the focus
// loses it, so the focus is given back when the burst ends.
void CWriteBurst::HoldControls()
{
    m_held.clear();
    m_hFocus = ::GetFocus();
    for (HWND child = ::GetWindow(m_hDialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!TakesInput(child))
            continue;
        m_held.push_back({child, ::IsWindowEnabled(child)});
        ::EnableWindow(child, FALSE);
    }
}

void CWriteBurst::ReleaseControls()
{
    for (const HeldControl& held : m_held) {
        if (::IsWindow(held.window))
            ::EnableWindow(held.window, held.enabledAfter);
    }
    m_held.clear();

    // Only while the dialog is the active window and nothing else has taken
    // the focus meanwhile: giving focus to an inactive window would activate it.
    const HWND focus = m_hFocus;
    m_hFocus = nullptr;
    if (focus == nullptr || !::IsWindow(focus) || !::IsWindow(m_hDialog))
        return;
    if (::GetActiveWindow() != m_hDialog)
        return;
    const HWND now = ::GetFocus();
    if (now != nullptr && now != m_hDialog)
        return;
    if (::IsWindowEnabled(focus) && ::IsWindowVisible(focus))
        ::SendMessageA(m_hDialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
}
