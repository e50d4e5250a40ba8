#include "SimDeliveryWindow.h"

#include <utility>

namespace {

constexpr char kClassName[] = "TabletUpdateSimDelivery";
constexpr UINT kDecideMessage = WM_APP + 0x52;
constexpr UINT_PTR kTimerId = 1;

bool RegisterWindowClass(WNDPROC proc)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    // Every bus in the process shares the class; only the first registers it.
    return ::RegisterClassExA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

SimDeliveryWindow::SimDeliveryWindow(std::function<void()> onTimer) : m_onTimer(std::move(onTimer))
{
    if (!RegisterWindowClass(&SimDeliveryWindow::WindowProc))
        return;
    // A message-only window: never shown, never enumerated as a top-level
    // window, yet its thread's message loops dispatch to it.
    m_hwnd = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               ::GetModuleHandleA(nullptr), this);
    if (m_hwnd != nullptr)
        m_thread = ::CreateThread(nullptr, 0, &SimDeliveryWindow::ThreadMain, this, 0, nullptr);
}

SimDeliveryWindow::~SimDeliveryWindow()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    if (m_thread != nullptr) {
        // The thread may be inside a SendMessage to a window of this thread,
        // which returns only once this thread takes sent messages again.
        while (::MsgWaitForMultipleObjects(1, &m_thread, FALSE, INFINITE, QS_SENDMESSAGE) !=
               WAIT_OBJECT_0) {
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        ::CloseHandle(m_thread);
    }
    if (m_hwnd != nullptr) {
        // Messages still posted to it are dropped with it.
        ::SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hwnd);
    }
}

void SimDeliveryWindow::Queue(SimDeviceChangeReport report)
{
    Item item;
    item.report = std::move(report);
    Enqueue(std::move(item));
}

void SimDeliveryWindow::QueueDecision(Decision decision)
{
    Item item;
    item.isDecision = true;
    item.decision = std::move(decision);
    Enqueue(std::move(item));
}

// While a decision runs, what it queues goes right after it, ahead of
// anything queued before; otherwise to the back, for the delivery thread.
void SimDeliveryWindow::Enqueue(Item item)
{
    if (m_deciding != nullptr) {
        m_deciding->push_back(std::move(item));
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(std::move(item));
    }
    m_changed.notify_all();
}

std::size_t SimDeliveryWindow::PendingCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_queue.size() + m_sending;
}

DWORD WINAPI SimDeliveryWindow::ThreadMain(LPVOID self)
{
    static_cast<SimDeliveryWindow*>(self)->Deliver();
    return 0;
}

// The delivery thread. It reads nothing of the bus: every report was
// prepared on the bus's thread, down to its broadcast bytes.
void SimDeliveryWindow::Deliver()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] {
            return m_stop || (!m_queue.empty() && !(m_queue.front().isDecision && m_decisionAsked));
        });
        if (m_stop)
            return;
        if (m_queue.front().isDecision) {
            m_queue.front().denied = m_deniedSinceDecision;
            m_deniedSinceDecision = false;
            m_decisionAsked = true;
            ::PostMessageA(m_hwnd, kDecideMessage, 0, 0);
            continue;
        }
        SimDeviceChangeReport report = std::move(m_queue.front().report);
        m_queue.pop_front();
        ++m_sending;
        lock.unlock();
        LRESULT answer = 0;
        if (::IsWindow(report.target))
            answer = ::SendMessageA(report.target, WM_DEVICECHANGE, report.event,
                                    reinterpret_cast<LPARAM>(report.broadcast.data()));
        lock.lock();
        --m_sending;
        if (report.event == DBT_DEVICEQUERYREMOVE && answer == BROADCAST_QUERY_DENY)
            m_deniedSinceDecision = true;
    }
}

// On the bus's thread: runs the decision at the front of the queue and puts
// what it queued in its place, ahead of everything queued after it.
void SimDeliveryWindow::Decide()
{
    Decision decision;
    bool denied = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_queue.empty() || !m_queue.front().isDecision || !m_decisionAsked)
            return;
        decision = m_queue.front().decision;
        denied = m_queue.front().denied;
    }
    std::vector<Item> following;
    m_deciding = &following;
    try {
        decision(denied);
    } catch (...) {
        following.clear(); // the decision that threw is lost; the queue goes on
    }
    m_deciding = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Still counted as pending until now, so no one sees an empty queue
        // between the queries and what follows from them.
        m_queue.pop_front();
        m_queue.insert(m_queue.begin(), std::make_move_iterator(following.begin()),
                       std::make_move_iterator(following.end()));
        m_decisionAsked = false;
    }
    m_changed.notify_all();
}

void SimDeliveryWindow::ArmTimer(DWORD milliseconds)
{
    if (m_hwnd == nullptr)
        return;
    ::SetTimer(m_hwnd, kTimerId, milliseconds < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : milliseconds,
               nullptr);
    m_timerArmed = true;
}

void SimDeliveryWindow::DisarmTimer()
{
    if (m_hwnd != nullptr && m_timerArmed)
        ::KillTimer(m_hwnd, kTimerId);
    m_timerArmed = false;
}

LRESULT CALLBACK SimDeliveryWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<SimDeliveryWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr || (message != kDecideMessage && message != WM_TIMER))
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dispatcher; the decision or
        // event that threw is lost, the next ones still go out.
        return 0;
    }
}

LRESULT SimDeliveryWindow::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message == kDecideMessage) {
        Decide();
    } else if (message == WM_TIMER && wParam == kTimerId) {
        // One shot: the owner re-arms for its next event.
        DisarmTimer();
        if (m_onTimer)
            m_onTimer();
    }
    return 0;
}
