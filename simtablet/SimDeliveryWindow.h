#pragma once
// The simulator's hidden window on the thread that made the bus.
//
// Windows sends WM_DEVICECHANGE to a registered window as a sent message
// that the window's thread receives the next time it pumps messages; it
// never arrives from inside the HID call that noticed the change. We get the
// same effect by queueing the report and posting ourselves a private
// message: whatever message loop runs next on this thread (the dialog's, a
// message box's) dispatches it, and only then is the report sent.
//
// The window's timer is how timed events (a device that arrives later) fire
// from the message loop as well.

#include "SimDeviceChangeReport.h"
#include "WinHid.h"

#include <deque>
#include <functional>

class SimDeliveryWindow {
public:
    explicit SimDeliveryWindow(std::function<void()> onTimer);
    ~SimDeliveryWindow();
    SimDeliveryWindow(const SimDeliveryWindow&) = delete;
    SimDeliveryWindow& operator=(const SimDeliveryWindow&) = delete;

    HWND Handle() const { return m_hwnd; }

    // Queues a report for the next turn of the message loop.
    void Queue(SimDeviceChangeReport report);
    // Sends every queued report now, oldest first.
    void DeliverQueued();
    std::size_t QueuedCount() const { return m_queue.size(); }

    // Calls onTimer once `milliseconds` have passed and the thread pumps
    // messages; replaces an earlier request.
    void ArmTimer(DWORD milliseconds);
    void DisarmTimer();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    std::function<void()> m_onTimer;
    std::deque<SimDeviceChangeReport> m_queue;
    HWND m_hwnd = nullptr;
    bool m_timerArmed = false;
};
