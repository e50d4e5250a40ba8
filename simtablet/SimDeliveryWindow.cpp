#include "SimDeliveryWindow.h"

namespace {

constexpr char kClassName[] = "TabletUpdateSimDelivery";
constexpr UINT kDeliverMessage = WM_APP + 0x51;
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
}

SimDeliveryWindow::~SimDeliveryWindow()
{
    if (m_hwnd != nullptr) {
        // Messages still posted to it are dropped with it.
        ::SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hwnd);
    }
}

void SimDeliveryWindow::Queue(SimDeviceChangeReport report)
{
    m_queue.push_back(std::move(report));
    if (m_hwnd != nullptr)
        ::PostMessageA(m_hwnd, kDeliverMessage, 0, 0);
}

void SimDeliveryWindow::DeliverQueued()
{
    // One at a time from the front: a recipient that pumps messages while
    // handling its report (say, it shows a message box) re-enters here and
    // simply carries on with the next report.
    while (!m_queue.empty()) {
        SimDeviceChangeReport report = std::move(m_queue.front());
        m_queue.pop_front();
        if (::IsWindow(report.target))
            ::SendMessageA(report.target, WM_DEVICECHANGE, report.event,
                           reinterpret_cast<LPARAM>(report.broadcast.data()));
    }
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
    if (self == nullptr || (message != kDeliverMessage && message != WM_TIMER))
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dispatcher; the report or
        // event that threw is lost, the next ones still go out.
        return 0;
    }
}

LRESULT SimDeliveryWindow::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message == kDeliverMessage) {
        DeliverQueued();
    } else if (message == WM_TIMER && wParam == kTimerId) {
        // One shot: the owner re-arms for its next event.
        DisarmTimer();
        if (m_onTimer)
            m_onTimer();
    }
    return 0;
}
