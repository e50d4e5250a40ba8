#pragma once
// A line of text and a progress bar in a dialog, advanced by the tablet's
// transfers while a write burst blocks the dialog's thread.
//
// While it counts, every few tens of milliseconds it moves the bar to the
// count and has the burst look at the thread's queue (CWriteBurst::Answer),
// so that Windows never takes the window for hung (it does after 5 s
// without): the bar is painted, messages other threads send are answered as
// the burst answers them, and input for the dialog is dropped. No posted
// message is dispatched: those wait for the next message loop, as they would
// if the thread were blocked. It counts only inside a burst, so it never
// looks at the queue outside one.
//
// The one-shot update shows it as the whole window; the service station can
// place the same pair in its panel for its long commands.

#include "TabletEeprom.h"
#include "TransferObserver.h"
#include "WriteBurst.h"

#include <windows.h>

class CUpdateProgress final : public TransferObserver {
public:
    CUpdateProgress() = default;
    ~CUpdateProgress() override;
    CUpdateProgress(const CUpdateProgress&) = delete;
    CUpdateProgress& operator=(const CUpdateProgress&) = delete;

    // The line and the bar as children of `parent` (which destroys them), at
    // the given client rectangles; the line takes `font`. Once only.
    bool Create(HWND parent, HFONT font, const RECT& line, const RECT& bar);
    bool IsCreated() const { return m_hLine != nullptr; }
    void SetText(const char* text);
    void ShowBar(bool show);
    HWND Line() const { return m_hLine; }
    HWND Bar() const { return m_hBar; }

    // Counts `totalSteps` from an empty bar, one step per transfer of
    // `eeprom`, until Finish; the empty bar is painted, and the queue looked
    // at, before the first transfer. False, and nothing done, unless the
    // burst runs.
    bool Start(const CWriteBurst::Scope& burst, CTabletEeprom& eeprom, int totalSteps);
    // Steps that are not transfers (a settling wait).
    void Step(int steps);
    // Fills the bar and stops counting; the bar's last position is painted.
    void Finish();

    // TransferObserver
    void OnTransfer() override;

    // The thread looks at its queue after a transfer once kAnswerEveryMs have
    // passed since it last did (often enough for the eye, and rarely enough
    // that a burst of fast reads is not slowed by repainting), and always
    // when counting ends; the bar moves to the count just before each look,
    // which paints it.
    static constexpr DWORD kAnswerEveryMs = 50;

private:
    void Detach();
    void ShowPosition();
    void SetPositionAtOnce(int position);
    void Answer();

    HWND m_hLine = nullptr;
    HWND m_hBar = nullptr;
    CWriteBurst* m_pBurst = nullptr; // while counting
    CTabletEeprom* m_pEeprom = nullptr;
    TransferObserver* m_pPrevious = nullptr;
    int m_nDone = 0;
    DWORD m_lastAnswer = 0;
};
