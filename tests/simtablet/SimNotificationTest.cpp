// Device-change reports reaching real windows through the thread's message loop.

#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>

using namespace simtest;

namespace {

DEV_BROADCAST_DEVICEINTERFACE_A InterfaceFilter()
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kHidGuid;
    return filter;
}

DEV_BROADCAST_HANDLE HandleFilter(HANDLE handle)
{
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = handle;
    return filter;
}

// Checks one recorded interface report, byte for byte where it matters.
void ExpectInterfaceReport(const RecordingWindow::Report& report, WPARAM event,
                           const std::string& path, const char* what)
{
    EXPECT_EQ(report.event, event) << what;
    const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    ASSERT_EQ(report.broadcast.size(), nameOffset + path.size() + 1) << what;
    DEV_BROADCAST_DEVICEINTERFACE_A header{};
    std::memcpy(&header, report.broadcast.data(), nameOffset);
    EXPECT_EQ(header.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE)) << what;
    EXPECT_TRUE(::IsEqualGUID(header.dbcc_classguid, kHidGuid)) << what;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(report.broadcast.data() + nameOffset)), path)
        << what;
}

void ExpectHandleReport(const RecordingWindow::Report& report, WPARAM event, HANDLE handle,
                        HDEVNOTIFY registration, const char* what)
{
    EXPECT_EQ(report.event, event) << what;
    ASSERT_EQ(report.broadcast.size(), sizeof(DEV_BROADCAST_HANDLE)) << what;
    DEV_BROADCAST_HANDLE broadcast{};
    std::memcpy(&broadcast, report.broadcast.data(), sizeof(broadcast));
    EXPECT_EQ(broadcast.dbch_devicetype, static_cast<DWORD>(DBT_DEVTYP_HANDLE)) << what;
    EXPECT_EQ(broadcast.dbch_handle, handle) << what;
    EXPECT_EQ(broadcast.dbch_hdevnotify, registration) << what;
}

class Notifications : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(window.Handle(), nullptr);
        sim.AddDevice(SimDeviceConfig());
        device = Open(sim, "Tablet");
        auto interfaceFilter = InterfaceFilter();
        interfaceNotify = sim.RegisterDeviceNotificationA(window.Handle(), &interfaceFilter,
                                                          DEVICE_NOTIFY_WINDOW_HANDLE);
        auto handleFilter = HandleFilter(device);
        handleNotify = sim.RegisterDeviceNotificationA(window.Handle(), &handleFilter,
                                                       DEVICE_NOTIFY_WINDOW_HANDLE);
        ASSERT_NE(interfaceNotify, nullptr);
        ASSERT_NE(handleNotify, nullptr);
        ASSERT_EQ(sim.RegistrationCount(), 2u);
    }

    // Pumps until `count` reports came, then a little longer to catch any surplus.
    bool Received(std::size_t count)
    {
        PumpUntil([&] { return window.Reports().size() >= count; }, 2000);
        PumpUntil([] { return false; }, 30);
        EXPECT_EQ(window.Reports().size(), count);
        return window.Reports().size() == count;
    }

    RecordingWindow window;
    SimHidSystem sim;
    HANDLE device = INVALID_HANDLE_VALUE;
    HDEVNOTIFY interfaceNotify = nullptr;
    HDEVNOTIFY handleNotify = nullptr;
};

TEST_F(Notifications, UnplugReachesTheWindowOnlyThroughTheMessageLoop)
{
    ASSERT_TRUE(sim.Unplug("Tablet"));

    // The unplug took effect at once; its reports wait for the loop.
    BOOLEAN ok = TRUE;
    ReadByte(sim, device, 0, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(window.Reports().empty());
    EXPECT_EQ(sim.PendingReportCount(), 2u);

    ASSERT_TRUE(Received(2));
    const auto& reports = window.Reports();
    ExpectHandleReport(reports[0], DBT_DEVICEREMOVECOMPLETE, device, handleNotify, "report 0");
    ExpectInterfaceReport(reports[1], DBT_DEVICEREMOVECOMPLETE, sim.DevicePath("Tablet"), "report 1");
    EXPECT_EQ(sim.PendingReportCount(), 0u);
}

// Reports are sent from another thread, as Windows sends them, so a message
// loop handles a waiting report ahead of anything posted, even what was
// posted first.
TEST_F(Notifications, AWaitingReportOvertakesMessagesPostedBeforeIt)
{
    ::PostMessageA(window.Handle(), RecordingWindow::kPostedMarker, 0, 0);
    sim.Unplug("Tablet");
    ::Sleep(50); // the delivery thread is waiting in SendMessage by now
    ASSERT_TRUE(Received(3));
    EXPECT_EQ(window.Reports()[0].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
}

// An orderly removal goes through only when, once every handle holder has
// answered its query, none denied it and no handle to the device is open.
TEST_F(Notifications, AnOrderlyRemovalIsRefusedWhileAHandleIsOpen)
{
    struct Row {
        const char* what;
        bool closeOnQuery;
        LRESULT answer;
        bool removed;
    };
    const Row rows[] = {
        {"handle kept open", false, TRUE, false},
        {"query denied", true, BROADCAST_QUERY_DENY, false},
        {"handle closed on the query", true, TRUE, true},
    };
    const HANDLE reported = device;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        window.SetAnswer([&](WPARAM event) {
            if (event == DBT_DEVICEQUERYREMOVE && row.closeOnQuery && device != INVALID_HANDLE_VALUE) {
                sim.CloseHandle(device);
                device = INVALID_HANDLE_VALUE;
            }
            return event == DBT_DEVICEQUERYREMOVE ? row.answer : TRUE;
        });
        const std::size_t before = window.Reports().size();
        ASSERT_TRUE(sim.Unplug("Tablet", true));
        EXPECT_TRUE(sim.IsPlugged("Tablet")) << "nothing goes before the query is answered";
        sim.PumpMessages();
        EXPECT_EQ(sim.PendingReportCount(), 0u);
        EXPECT_EQ(sim.IsPlugged("Tablet"), !row.removed);
        const auto& reports = window.Reports();
        ASSERT_EQ(reports.size(), before + (row.removed ? 3u : 2u));
        ExpectHandleReport(reports[before], DBT_DEVICEQUERYREMOVE, reported, handleNotify, "query");
        ExpectHandleReport(reports[before + 1],
                           row.removed ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEQUERYREMOVEFAILED,
                           reported, handleNotify, "outcome");
        if (!row.removed && device != INVALID_HANDLE_VALUE) {
            BOOLEAN ok = FALSE;
            ReadByte(sim, device, 0, &ok);
            EXPECT_TRUE(ok) << "a refused removal leaves the device working";
        }
    }
}

// Closes this thread's message box from inside its own loop once the
// watched window has two reports, or after 3 s so that no run can hang.
const RecordingWindow* g_watched = nullptr;
DWORD g_boxOpened = 0;

void CALLBACK CloseBoxWhenDelivered(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_watched->Reports().size() < 2 && ::GetTickCount() - g_boxOpened < 3000)
        return;
    if (const HWND box = ::FindWindowA("#32770", "simtablet"))
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(Notifications, AMessageBoxLoopDeliversThemToo)
{
    sim.Unplug("Tablet");
    g_watched = &window;
    g_boxOpened = ::GetTickCount();
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &CloseBoxWhenDelivered);
    ::MessageBoxA(nullptr, "waiting for device reports", "simtablet", MB_OK);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(window.Reports().size(), 2u);
}

TEST_F(Notifications, ArrivalGoesToInterfaceRegistrationsOnly)
{
    sim.Unplug("Tablet");
    sim.Plug("Tablet");
    ASSERT_TRUE(Received(3));
    const auto& reports = window.Reports();
    ExpectHandleReport(reports[0], DBT_DEVICEREMOVECOMPLETE, device, handleNotify, "removal");
    ExpectInterfaceReport(reports[1], DBT_DEVICEREMOVECOMPLETE, sim.DevicePath("Tablet"), "removal");
    ExpectInterfaceReport(reports[2], DBT_DEVICEARRIVAL, sim.DevicePath("Tablet"), "arrival");

    // The handle registration belonged to the device before the replug:
    // the next unplug reports only the interface.
    sim.Unplug("Tablet");
    sim.PumpMessages();
    ASSERT_EQ(reports.size(), 4u);
    ExpectInterfaceReport(reports[3], DBT_DEVICEREMOVECOMPLETE, sim.DevicePath("Tablet"), "second removal");
}

TEST_F(Notifications, NothingArrivesFromInsideAHidCall)
{
    SimDeviceConfig fragile;
    fragile.name = "Fragile";
    fragile.unplugAfterTransfers = 1;
    sim.AddDevice(fragile);
    const HANDLE handle = Open(sim, "Fragile");
    auto filter = HandleFilter(handle);
    const HDEVNOTIFY notify = sim.RegisterDeviceNotificationA(window.Handle(), &filter, 0);

    BOOLEAN ok = FALSE;
    ReadByte(sim, handle, 0, &ok);
    EXPECT_TRUE(ok) << "the transfer that triggers the unplug still succeeds";
    EXPECT_FALSE(sim.IsPlugged("Fragile"));
    EXPECT_TRUE(window.Reports().empty());
    ASSERT_TRUE(Received(2));
    ExpectHandleReport(window.Reports()[0], DBT_DEVICEREMOVECOMPLETE, handle, notify, "handle");
    ExpectInterfaceReport(window.Reports()[1], DBT_DEVICEREMOVECOMPLETE, sim.DevicePath("Fragile"),
                          "interface");
}

TEST_F(Notifications, UnregisteredAndDestroyedRecipientsHearNothing)
{
    EXPECT_TRUE(sim.UnregisterDeviceNotification(handleNotify));
    EXPECT_FALSE(sim.UnregisterDeviceNotification(handleNotify));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    sim.Unplug("Tablet");
    ASSERT_TRUE(Received(1));
    ExpectInterfaceReport(window.Reports()[0], DBT_DEVICEREMOVECOMPLETE, sim.DevicePath("Tablet"),
                          "interface only");

    window.Destroy();
    sim.Plug("Tablet");
    EXPECT_EQ(sim.PendingReportCount(), 0u);
    sim.PumpMessages();
    EXPECT_EQ(window.Reports().size(), 1u);
}

TEST_F(Notifications, RegistrationChecks)
{
    auto interfaceFilter = InterfaceFilter();
    auto shortInterface = InterfaceFilter();
    shortInterface.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) - 4;
    auto handleFilter = HandleFilter(device);
    auto shortHandle = HandleFilter(device);
    shortHandle.dbch_size = sizeof(DEV_BROADCAST_HANDLE) - 4;
    auto strangerHandle = HandleFilter(reinterpret_cast<HANDLE>(0x1234));
    DEV_BROADCAST_HDR volume{};
    volume.dbch_size = sizeof(DEV_BROADCAST_VOLUME);
    volume.dbch_devicetype = DBT_DEVTYP_VOLUME;

    struct Row {
        HWND recipient;
        void* filter;
        DWORD flags;
        bool registers;
    };
    const HWND window_ = window.Handle();
    const Row rows[] = {
        /* 0 */ {window_, &interfaceFilter, DEVICE_NOTIFY_WINDOW_HANDLE, true},
        /* 1 */ {window_, &interfaceFilter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES, true},
        /* 2 */ {window_, &handleFilter, DEVICE_NOTIFY_WINDOW_HANDLE, true},
        /* 3 */ {window_, &interfaceFilter, DEVICE_NOTIFY_SERVICE_HANDLE, false},
        /* 4 */ {window_, &interfaceFilter, 0x10, false},
        /* 5 */ {reinterpret_cast<HWND>(0x4321), &interfaceFilter, DEVICE_NOTIFY_WINDOW_HANDLE, false},
        /* 6 */ {window_, nullptr, DEVICE_NOTIFY_WINDOW_HANDLE, false},
        /* 7 */ {window_, &shortInterface, DEVICE_NOTIFY_WINDOW_HANDLE, false},
        /* 8 */ {window_, &shortHandle, DEVICE_NOTIFY_WINDOW_HANDLE, false},
        /* 9 */ {window_, &strangerHandle, DEVICE_NOTIFY_WINDOW_HANDLE, false},
        /* 10 */ {window_, &volume, DEVICE_NOTIFY_WINDOW_HANDLE, false},
        /* 11 */ {window_, &handleFilter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES, false},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const unsigned before = sim.RegistrationCount();
        const HDEVNOTIFY notify = sim.RegisterDeviceNotificationA(rows[i].recipient, rows[i].filter,
                                                                  rows[i].flags);
        EXPECT_EQ(notify != nullptr, rows[i].registers) << "row " << i;
        EXPECT_EQ(sim.RegistrationCount(), before + (rows[i].registers ? 1u : 0u)) << "row " << i;
        if (notify != nullptr) {
            EXPECT_TRUE(sim.UnregisterDeviceNotification(notify)) << "row " << i;
        }
    }

    // A handle whose device is gone cannot be registered any more.
    sim.Unplug("Tablet");
    EXPECT_EQ(sim.RegisterDeviceNotificationA(window_, &handleFilter, 0), nullptr);
}

} // namespace
