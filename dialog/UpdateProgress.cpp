#include "UpdateProgress.h"

#include <commctrl.h>

CUpdateProgress::~CUpdateProgress()
{
    Detach();
}

bool CUpdateProgress::Create(HWND parent, HFONT font, const RECT& line, const RECT& bar)
{
    if (m_hLine != nullptr || parent == nullptr)
        return false;
    // The bar is a common control; registering its class is all this needs.
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&classes);

    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(parent, GWLP_HINSTANCE));
    m_hLine = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                line.left, line.top, line.right - line.left, line.bottom - line.top,
                                parent, nullptr, instance, nullptr);
    m_hBar = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, bar.left,
                               bar.top, bar.right - bar.left, bar.bottom - bar.top, parent, nullptr,
                               instance, nullptr);
    if (m_hLine == nullptr || m_hBar == nullptr)
        return false;
    ::SendMessageA(m_hLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return true;
}

void CUpdateProgress::SetText(const char* text)
{
    if (m_hLine != nullptr)
        ::SetWindowTextA(m_hLine, text);
}

void CUpdateProgress::ShowBar(bool show)
{
    if (m_hBar != nullptr)
        ::ShowWindow(m_hBar, show ? SW_SHOWNA : SW_HIDE);
}

// The first look at the queue after a window is shown also takes what its
// showing left there (activation, and under Wine the window manager's
// replies): 10-19 ms on the real stack under Wine 10, inside the first read
// pass when it came 50 ms in. Taken here, it is done, and the empty bar
// painted, before the first transfer.
bool CUpdateProgress::Start(const CWriteBurst::Scope& burst, CTabletEeprom& eeprom, int totalSteps)
{
    Detach();
    m_pBurst = nullptr;
    if (!burst.Burst().IsRunning())
        return false;
    m_pBurst = &burst.Burst();
    m_nDone = 0;
    if (m_hBar != nullptr)
        ::SendMessageA(m_hBar, PBM_SETRANGE32, 0, totalSteps > 0 ? totalSteps : 1);
    m_pEeprom = &eeprom;
    m_pPrevious = eeprom.SetTransferObserver(this);
    ShowPosition();
    Answer();
    return true;
}

void CUpdateProgress::Step(int steps)
{
    m_nDone += steps;
    ShowPosition();
    Answer();
}

void CUpdateProgress::Finish()
{
    Detach();
    if (m_hBar != nullptr) {
        const int end = static_cast<int>(::SendMessageA(m_hBar, PBM_GETRANGE, FALSE, 0));
        m_nDone = end;
        ShowPosition();
    }
    Answer();
    m_pBurst = nullptr;
}

// The bar is painted only when the thread looks at its queue, so that is
// when its position is set as well. Set every few transfers in between, it
// was work nobody saw, and under Wine it was the display's largest share of
// the read passes, which have no pauses to hide it in (measured on the real
// stack: about 20 ms of a 3.2 s update, against a loop with no display).
void CUpdateProgress::OnTransfer()
{
    ++m_nDone;
    // The tick count is coarse, which is all this needs.
    if (::GetTickCount() - m_lastAnswer >= kAnswerEveryMs) {
        ShowPosition();
        Answer();
    }
}

void CUpdateProgress::ShowPosition()
{
    if (m_hBar == nullptr)
        return;
    // The bar paints itself inside PBM_SETPOS, and SetPositionAtOnce sends
    // it twice; under Wine each of those paints costs more than a read (a
    // 256-byte read pass that painted this way took 20-36 ms instead of 2).
    // So the position moves with redraw off, and the whole bar is painted
    // once, by the answer that follows. A hidden bar is left alone: turning
    // its redraw back on would show it.
    const bool shown = (::GetWindowLongPtrA(m_hBar, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown)
        ::SendMessageA(m_hBar, WM_SETREDRAW, FALSE, 0);
    SetPositionAtOnce(m_nDone);
    if (shown) {
        ::SendMessageA(m_hBar, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(m_hBar, nullptr, FALSE);
    }
}

// With visual styles the bar does not jump to a higher position: it glides
// there on a timer of its own, which nothing dispatches while the tablet is
// busy, so on Windows it would stand still until the operation ends. Moving
// back is drawn at once: Microsoft's description of the bar's styles says
// that without PBS_SMOOTHREVERSE (which ours lacks) the bar "jumps" to a
// lower value. So the bar goes one past the position and back to it, the
// back step ending the glide. At the end of the range there is no "one
// past", so the range is widened by one for that. Wine's bar does not glide
// at all, so tests under Wine cannot tell this from a plain PBM_SETPOS.
void CUpdateProgress::SetPositionAtOnce(int position)
{
    const int end = static_cast<int>(::SendMessageA(m_hBar, PBM_GETRANGE, FALSE, 0));
    if (position >= end) {
        ::SendMessageA(m_hBar, PBM_SETRANGE32, 0, end + 1);
        ::SendMessageA(m_hBar, PBM_SETPOS, static_cast<WPARAM>(end + 1), 0);
        ::SendMessageA(m_hBar, PBM_SETPOS, static_cast<WPARAM>(end), 0);
        ::SendMessageA(m_hBar, PBM_SETRANGE32, 0, end);
        return;
    }
    ::SendMessageA(m_hBar, PBM_SETPOS, static_cast<WPARAM>(position + 1), 0);
    ::SendMessageA(m_hBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CUpdateProgress::Answer()
{
    if (m_pBurst != nullptr)
        m_pBurst->Answer();
    m_lastAnswer = ::GetTickCount();
}

void CUpdateProgress::Detach()
{
    if (m_pEeprom != nullptr) {
        m_pEeprom->SetTransferObserver(m_pPrevious);
        m_pEeprom = nullptr;
        m_pPrevious = nullptr;
    }
}
