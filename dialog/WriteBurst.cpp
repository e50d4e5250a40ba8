#include "WriteBurst.h"

#include "TabletEeprom.h"

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

// Pen and touch, as Windows 8 and later post them: WM_TOUCH (0x0240) and the
// WM_NCPOINTER*/WM_POINTER* messages after it (0x0241-0x0257), then
// WM_GESTURE (0x0119). They are not in the mouse's range, and a window that
// leaves them to DefWindowProc gets the mouse messages Windows makes of
// them, so a tap would click. The values are Windows' own; the headers
// declare them only for newer targets than ours.
constexpr UINT kTouch = 0x0240;
constexpr UINT kPointerLast = 0x0257;
constexpr UINT kGesture = 0x0119;

// Input the window must not act on while the tablet is busy; taking it off
// the queue also keeps it from being acted on later, when it means nothing.
const UINT kInputRanges[][2] = {
    {WM_KEYFIRST, WM_KEYLAST},
    {WM_MOUSEFIRST, WM_MOUSELAST},
    {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
    {kTouch, kPointerLast},
    {kGesture, kGesture},
};

// A window whose paint does not validate would be handed WM_PAINT for ever.
constexpr int kMaxPaintsPerAnswer = 16;

// A touch input or gesture information handle belongs to whoever takes its
// message off the queue: Microsoft documents that one not handed to
// DefWindowProc must be closed, or it leaks. The functions came with
// Windows 7 and are looked up when needed.
void CloseInputHandle(const MSG& msg)
{
    const char* name = msg.message == kTouch ? "CloseTouchInputHandle"
                       : msg.message == kGesture ? "CloseGestureInfoHandle"
                                                 : nullptr;
    const HMODULE user32 = ::GetModuleHandleA("user32.dll");
    if (name == nullptr || user32 == nullptr || msg.lParam == 0)
        return;
    using CloseFn = BOOL(WINAPI*)(HANDLE);
    if (const auto close = reinterpret_cast<CloseFn>(reinterpret_cast<void*>(::GetProcAddress(user32, name))))
        close(reinterpret_cast<HANDLE>(msg.lParam));
}

} // namespace

CWriteBurst::Scope::Scope(CWriteBurst& burst, HWND dialog, const CTabletEeprom& tablet, Tablet needs)
    : m_burst(burst), m_bBegan(burst.Begin(dialog))
{
    // What other threads sent before the burst began is answered now, as the
    // burst answers it: refused. A burst that runs already (a handler reached
    // from inside it) owns the tablet: a second writer would cut its writes.
    burst.Answer();
    if (!m_bBegan)
        m_refusal = Refusal::Nested;
    else if (burst.SessionEnding())
        m_refusal = Refusal::SessionEnding;
    else if (tablet.RemovalPending())
        m_refusal = Refusal::RemovalPending;
    else if (needs == Tablet::MustBeOpen && !tablet.m_pDevice)
        m_refusal = Refusal::NoTablet;
}

void CWriteBurst::Scope::End()
{
    if (m_bBegan)
        m_burst.End();
    m_bBegan = false;
}

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
    if (m_bQuitTaken)
        ::PostQuitMessage(m_quitCode);
    m_bQuitTaken = false;
}

// Microsoft documents that PeekMessage's window filter takes the messages of
// the window "or any of its children as specified by the IsChild function",
// so asking for the dialog's covers the panel's edit, the combo boxes and
// their own children. With no window nothing would be dropped: input for
// other windows of the thread must not be lost.
void CWriteBurst::Answer()
{
    if (!IsRunning())
        return;
    MSG msg;
    for (const auto& range : kInputRanges) {
        while (::PeekMessageA(&msg, m_hDialog, range[0], range[1], PM_REMOVE)) {
            if (!KeepQuit(msg))
                CloseInputHandle(msg);
        }
    }
    for (int i = 0; i < kMaxPaintsPerAnswer && ::PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
        if (!KeepQuit(msg))
            ::DispatchMessageA(&msg);
    }
}

// Microsoft documents that PeekMessage always retrieves WM_QUIT, whatever its
// filter: one taken off the queue here is not the burst's to drop. It is
// posted again when the burst ends, for the loop it was meant for.
bool CWriteBurst::KeepQuit(const MSG& msg)
{
    if (msg.message != WM_QUIT)
        return false;
    m_bQuitTaken = true;
    m_quitCode = static_cast<int>(msg.wParam);
    return true;
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
