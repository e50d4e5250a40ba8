#pragma once
// Reads and dismisses the message boxes that the code under test opens on
// this thread, so that tests run without anyone at the keyboard.
//
// A CBT hook notices each box as it is activated. Reading it, the test's
// callback and the dismissal all run later, from messages the watcher posts
// to itself, so they happen inside the box's own message loop, just as a
// user's click would. The box is dismissed only once the thread's queue holds
// no posted or sent message any more (and an optional condition holds): work
// the callback set off is handled while the box is still open.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct MessageBoxRecord {
    std::string caption;
    std::string text;
    UINT icon = 0;            // MB_ICONHAND/QUESTION/EXCLAMATION/ASTERISK, 0 for none
    std::vector<int> buttons; // ids of the box's buttons, in window order
    HWND owner = nullptr;
    int answer = 0;           // the button the watcher pressed
    bool timedOut = false;    // dismissed although the condition never held
};

// Shown as icon of a box whose icon is not one of the four standard ones.
constexpr UINT kUnknownMessageBoxIcon = MB_ICONMASK;

class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Runs once per box, after it has been read and before it is dismissed.
    void SetOnShow(std::function<void(const MessageBoxRecord&)> callback);
    // The button pressed on every box from now on; IDOK at first.
    void SetAnswer(int buttonId);
    // Keeps each box open until the condition holds, for at most timeoutMs;
    // a box dismissed by the timeout is marked timedOut.
    void SetDismissWhen(std::function<bool()> condition, DWORD timeoutMs = 10000);

    // File dialogs opened on this thread are answered too, each with the next
    // queued path typed in and OK pressed; an empty path, or none queued,
    // cancels it.
    void QueueFileAnswer(const std::string& path) { m_fileAnswers.push_back(path); }
    // Titles of the file dialogs answered, in order.
    const std::vector<std::string>& FileDialogs() const { return m_fileDialogs; }

    const std::vector<MessageBoxRecord>& Boxes() const { return m_boxes; }
    void Clear() { m_boxes.clear(); }

    static std::string IconName(UINT icon);
    // One line for failure messages: caption, icon and text.
    static std::string Describe(const MessageBoxRecord& box);

private:
    struct Pending {
        HWND box;
        size_t record;
        DWORD since;
    };

    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK HelperProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    static bool IsMessageBox(HWND hWnd);
    static MessageBoxRecord Read(HWND box);

    void OnActivate(HWND hWnd);
    void OnShown(HWND box);
    void TryDismiss();
    void AnswerFileDialog(HWND dialog);

    HHOOK m_hook = nullptr;
    HWND m_helper = nullptr;
    MessageBoxWatcher* m_previous = nullptr;
    std::vector<HWND> m_seen;
    std::vector<Pending> m_pending;
    std::vector<MessageBoxRecord> m_boxes;
    std::function<void(const MessageBoxRecord&)> m_onShow;
    std::function<bool()> m_dismissWhen;
    DWORD m_timeoutMs = 10000;
    int m_answer = IDOK;
    std::vector<std::string> m_fileAnswers;
    std::vector<std::string> m_fileDialogs;
};
