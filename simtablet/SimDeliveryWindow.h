#pragma once
// How the simulated bus reaches the windows registered with it.
//
// Windows sends WM_DEVICECHANGE from a thread of its own. A message sent
// from another thread reaches the window only when the window's thread next
// pumps messages (any loop counts, a message box's too), and a message loop
// handles such sent messages before any posted one. It never arrives from
// inside the HID call that noticed the change. So the bus prepares each
// report on its own thread and queues it here; a delivery thread sends the
// reports, one at a time and in order.
//
// An orderly removal needs the answers to its queries before the bus can
// decide whether the device goes: the bus queues a decision after the
// queries, and the delivery thread stops there until the bus, on its own
// thread, has made the decision and queued what follows from it.
//
// The hidden window lives on the bus's thread. Its timer is how timed events
// (a device that arrives later) fire from the message loop, and it carries
// decisions back to the bus's thread, so the bus's state is only ever
// touched there.

#include "SimDeviceChangeReport.h"
#include "WinHid.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class SimDeliveryWindow {
public:
    // Runs on the bus's thread with whether any recipient of the queries
    // before it answered BROADCAST_QUERY_DENY.
    using Decision = std::function<void(bool denied)>;

    explicit SimDeliveryWindow(std::function<void()> onTimer);
    ~SimDeliveryWindow();
    SimDeliveryWindow(const SimDeliveryWindow&) = delete;
    SimDeliveryWindow& operator=(const SimDeliveryWindow&) = delete;

    HWND Handle() const { return m_hwnd; }

    // Queues a report behind every earlier one. While a decision is being
    // made, what it queues takes the decision's place instead.
    void Queue(SimDeviceChangeReport report);
    void QueueDecision(Decision decision);
    // Reports and decisions not yet done with: a report counts until its
    // SendMessage has returned.
    std::size_t PendingCount() const;

    // Calls onTimer once `milliseconds` have passed and the thread pumps
    // messages; replaces an earlier request.
    void ArmTimer(DWORD milliseconds);
    void DisarmTimer();

private:
    struct Item {
        SimDeviceChangeReport report;
        bool isDecision = false; // a decision sends nothing
        Decision decision;
        bool denied = false;
    };

    void Enqueue(Item item);
    static DWORD WINAPI ThreadMain(LPVOID self);
    void Deliver();
    void Decide();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    std::function<void()> m_onTimer;
    HWND m_hwnd = nullptr;
    bool m_timerArmed = false;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Item> m_queue;
    std::size_t m_sending = 0;     // reports taken from the queue whose SendMessage has not returned
    bool m_decisionAsked = false;  // the front decision has been handed to the bus's thread
    bool m_deniedSinceDecision = false;
    bool m_stop = false;
    std::vector<Item>* m_deciding = nullptr; // where Queue puts reports while a decision runs
    HANDLE m_thread = nullptr;
};
