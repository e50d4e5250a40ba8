#include "MessageBoxWatcher.h"

#include "FileDialogWindow.h"
#include "Wnd.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kHelperClass[] = "TabletUpdateTestMessageBoxWatcher";
const UINT kMsgShown = WM_APP + 0x3A0;   // wParam: the box
const UINT kMsgDismiss = WM_APP + 0x3A1;
const UINT kMsgFileDialog = WM_APP + 0x3A2; // wParam: the file dialog
const UINT_PTR kPollTimer = 1;
const UINT kPollMs = 5;

// Message boxes of Windows and of Wine carry their text in a static with this id.
const int kTextId = 0xFFFF;

thread_local MessageBoxWatcher* t_watcher = nullptr;

std::string ClassOf(HWND hWnd)
{
    char name[64] = {};
    ::GetClassNameA(hWnd, name, sizeof name);
    return name;
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

bool PostedOrSentWaiting()
{
    const DWORD status = ::GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE);
    return (HIWORD(status) & (QS_POSTMESSAGE | QS_SENDMESSAGE)) != 0;
}

} // namespace

MessageBoxWatcher::MessageBoxWatcher()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &MessageBoxWatcher::HelperProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kHelperClass;
    ::RegisterClassA(&wc); // fails harmlessly when already registered
    m_helper = ::CreateWindowExA(0, kHelperClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrA(m_helper, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_previous = t_watcher;
    t_watcher = this;
    m_hook = ::SetWindowsHookExA(WH_CBT, &MessageBoxWatcher::CbtProc, nullptr, ::GetCurrentThreadId());
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    if (m_hook != nullptr)
        ::UnhookWindowsHookEx(m_hook);
    t_watcher = m_previous;
    if (m_helper != nullptr) {
        ::SetWindowLongPtrA(m_helper, GWLP_USERDATA, 0);
        ::DestroyWindow(m_helper);
    }
    // Our own notes to ourselves must not reach a later watcher.
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, kMsgShown, kMsgFileDialog, PM_REMOVE)) {
    }
}

void MessageBoxWatcher::SetOnShow(std::function<void(const MessageBoxRecord&)> callback)
{
    m_onShow = std::move(callback);
}

void MessageBoxWatcher::SetAnswer(int buttonId)
{
    m_answer = buttonId;
}

void MessageBoxWatcher::SetDismissWhen(std::function<bool()> condition, DWORD timeoutMs)
{
    m_dismissWhen = std::move(condition);
    m_timeoutMs = timeoutMs;
}

std::string MessageBoxWatcher::IconName(UINT icon)
{
    switch (icon) {
    case 0: return "none";
    case MB_ICONHAND: return "stop (0x10)";
    case MB_ICONQUESTION: return "question (0x20)";
    case MB_ICONEXCLAMATION: return "exclamation (0x30)";
    case MB_ICONASTERISK: return "information (0x40)";
    default: return "unknown";
    }
}

std::string MessageBoxWatcher::Describe(const MessageBoxRecord& box)
{
    return "[" + box.caption + "] " + IconName(box.icon) + " \"" + box.text + "\"";
}

bool MessageBoxWatcher::IsMessageBox(HWND hWnd)
{
    // Any dialog has this class; a message box is the one whose children are
    // only statics and buttons and whose text sits in the 0xFFFF static.
    if (ClassOf(hWnd) != "#32770")
        return false;
    bool hasText = false;
    for (HWND child : ChildrenOf(hWnd)) {
        const std::string cls = ClassOf(child);
        if (::lstrcmpiA(cls.c_str(), "Static") != 0 && ::lstrcmpiA(cls.c_str(), "Button") != 0)
            return false;
        if (::GetDlgCtrlID(child) == kTextId && ::lstrcmpiA(cls.c_str(), "Static") == 0)
            hasText = true;
    }
    return hasText;
}

MessageBoxRecord MessageBoxWatcher::Read(HWND box)
{
    MessageBoxRecord record;
    record.caption = AfxGetWindowText(box);
    record.text = AfxGetWindowText(::GetDlgItem(box, kTextId));
    record.owner = ::GetWindow(box, GW_OWNER);

    struct StandardIcon {
        LPCSTR id;
        UINT style;
    };
    const StandardIcon standard[] = {
        { IDI_HAND, MB_ICONHAND },
        { IDI_QUESTION, MB_ICONQUESTION },
        { IDI_EXCLAMATION, MB_ICONEXCLAMATION },
        { IDI_ASTERISK, MB_ICONASTERISK },
    };
    for (HWND child : ChildrenOf(box)) {
        const LONG style = ::GetWindowLongA(child, GWL_STYLE);
        if (::lstrcmpiA(ClassOf(child).c_str(), "Button") == 0) {
            if (style & WS_VISIBLE)
                record.buttons.push_back(::GetDlgCtrlID(child));
            continue;
        }
        if ((style & SS_TYPEMASK) != SS_ICON || !(style & WS_VISIBLE))
            continue;
        const HICON shown = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
        if (shown == nullptr)
            continue;
        // The system icons are shared: the box shows the very handle LoadIcon gives us.
        record.icon = kUnknownMessageBoxIcon;
        for (const StandardIcon& icon : standard) {
            if (::LoadIconA(nullptr, icon.id) == shown)
                record.icon = icon.style;
        }
    }
    return record;
}

LRESULT CALLBACK MessageBoxWatcher::CbtProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && t_watcher != nullptr)
        t_watcher->OnActivate(reinterpret_cast<HWND>(wParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageBoxWatcher::OnActivate(HWND hWnd)
{
    // A box is activated again whenever the focus comes back to it; handle it once.
    m_seen.erase(std::remove_if(m_seen.begin(), m_seen.end(), [](HWND w) { return !::IsWindow(w); }), m_seen.end());
    if (std::find(m_seen.begin(), m_seen.end(), hWnd) != m_seen.end())
        return;
    if (FileDialogWindow::Recognise(hWnd)) {
        m_seen.push_back(hWnd);
        ::PostMessageA(m_helper, kMsgFileDialog, reinterpret_cast<WPARAM>(hWnd), 0);
        return;
    }
    if (!IsMessageBox(hWnd))
        return;
    m_seen.push_back(hWnd);
    // Nothing more inside the hook: activation is half done at this point.
    ::PostMessageA(m_helper, kMsgShown, reinterpret_cast<WPARAM>(hWnd), 0);
}

void MessageBoxWatcher::OnShown(HWND box)
{
    if (!::IsWindow(box))
        return;
    m_boxes.push_back(Read(box));
    const size_t index = m_boxes.size() - 1;
    if (m_onShow) {
        const MessageBoxRecord copy = m_boxes[index]; // the callback may open more boxes
        m_onShow(copy);
    }
    m_pending.push_back(Pending{ box, index, ::GetTickCount() });
    ::PostMessageA(m_helper, kMsgDismiss, 0, 0);
}

void MessageBoxWatcher::TryDismiss()
{
    ::KillTimer(m_helper, kPollTimer);
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(), [](const Pending& p) { return !::IsWindow(p.box); }),
                    m_pending.end());
    if (m_pending.empty())
        return;
    if (PostedOrSentWaiting()) {
        // Go to the back of the queue: what waits there runs first.
        ::PostMessageA(m_helper, kMsgDismiss, 0, 0);
        return;
    }
    // The newest box is the one whose loop is running now.
    Pending& pending = m_pending.back();
    bool timedOut = false;
    if (m_dismissWhen && !m_dismissWhen()) {
        if (::GetTickCount() - pending.since < m_timeoutMs) {
            // A timer, not another posted message: a queue that always holds a
            // posted message never delivers WM_TIMER, and the code under test
            // may be waiting for one.
            ::SetTimer(m_helper, kPollTimer, kPollMs, nullptr);
            return;
        }
        timedOut = true;
    }
    MessageBoxRecord& record = m_boxes[pending.record];
    record.answer = m_answer;
    record.timedOut = timedOut;
    ::PostMessageA(pending.box, WM_COMMAND, MAKEWPARAM(m_answer, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(pending.box, m_answer)));
    m_pending.pop_back();
    if (!m_pending.empty())
        ::PostMessageA(m_helper, kMsgDismiss, 0, 0);
}

void MessageBoxWatcher::AnswerFileDialog(HWND dialog)
{
    if (!::IsWindow(dialog))
        return;
    // The dialog fills its lists from messages of its own; answer after them.
    if (PostedOrSentWaiting()) {
        ::PostMessageA(m_helper, kMsgFileDialog, reinterpret_cast<WPARAM>(dialog), 0);
        return;
    }
    const FileDialogWindow window(dialog);
    m_fileDialogs.push_back(window.Title());
    std::string path;
    if (!m_fileAnswers.empty()) {
        path = m_fileAnswers.front();
        m_fileAnswers.erase(m_fileAnswers.begin());
    }
    if (path.empty())
        window.Cancel();
    else
        window.Choose(path);
}

LRESULT CALLBACK MessageBoxWatcher::HelperProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<MessageBoxWatcher*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == kMsgShown) {
            self->OnShown(reinterpret_cast<HWND>(wParam));
            return 0;
        }
        if (message == kMsgFileDialog) {
            self->AnswerFileDialog(reinterpret_cast<HWND>(wParam));
            return 0;
        }
        if (message == kMsgDismiss || (message == WM_TIMER && wParam == kPollTimer)) {
            self->TryDismiss();
            return 0;
        }
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}
