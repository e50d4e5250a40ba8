// Reducing WM_DEVICECHANGE reports to "tablet arrived", "tablet removed" or nothing.

#include "SpyHidSystem.h"
#include "TabletEeprom.h"
#include "TabletTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kEvents[] = {DBT_DEVICEARRIVAL,         DBT_DEVICEQUERYREMOVE,
                             DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVICEREMOVEPENDING,
                             DBT_DEVICEREMOVECOMPLETE,  DBT_DEVNODES_CHANGED};

// OwnNotification: another handle value, but the tablet's handle notification.
enum class Report { HidInterface, OtherInterface, OwnHandle, OwnNotification, OtherHandle, Volume };

const char* Name(Report report)
{
    switch (report) {
    case Report::HidInterface: return "HID interface";
    case Report::OtherInterface: return "interface, GUID differs";
    case Report::OwnHandle: return "handle of the tablet";
    case Report::OwnNotification: return "notification of the tablet";
    case Report::OtherHandle: return "other handle";
    case Report::Volume: return "volume";
    }
    return "?";
}

// The tablet, opened or closed, and the reports that can be made about it.
struct Fixture {
    Fixture() : spy(sim), eeprom(spy)
    {
        sim.AddDevice(Device("Tablet"));
        sim.HidD_GetHidGuid(&hidGuid);
        if (eeprom.Open(owner.Get(), nullptr)) {
            tabletHandle = eeprom.m_pDevice->handle;
            tabletNotify = eeprom.m_hHandleNotify.Get();
        }
    }

    // A real broadcast structure of the given kind; `guidByte` >= 0 flips one
    // byte of the class GUID.
    std::vector<BYTE> Build(Report report, int guidByte = -1) const
    {
        std::vector<BYTE> bytes;
        if (report == Report::HidInterface || report == Report::OtherInterface) {
            DEV_BROADCAST_DEVICEINTERFACE_A b{};
            b.dbcc_size = sizeof(b);
            b.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            b.dbcc_classguid = hidGuid;
            if (report == Report::OtherInterface)
                reinterpret_cast<BYTE*>(&b.dbcc_classguid)[guidByte < 0 ? 15 : guidByte] ^= 0x01;
            bytes.assign(reinterpret_cast<BYTE*>(&b), reinterpret_cast<BYTE*>(&b) + sizeof(b));
        } else if (report == Report::Volume) {
            DEV_BROADCAST_VOLUME b{};
            b.dbcv_size = sizeof(b);
            b.dbcv_devicetype = DBT_DEVTYP_VOLUME;
            b.dbcv_unitmask = 0x10;
            bytes.assign(reinterpret_cast<BYTE*>(&b), reinterpret_cast<BYTE*>(&b) + sizeof(b));
        } else {
            DEV_BROADCAST_HANDLE b{};
            b.dbch_size = sizeof(b);
            b.dbch_devicetype = DBT_DEVTYP_HANDLE;
            const auto other = reinterpret_cast<ULONG_PTR>(tabletHandle) + 4;
            b.dbch_handle = report == Report::OwnHandle ? tabletHandle
                                                        : reinterpret_cast<HANDLE>(other);
            if (report == Report::OwnNotification)
                b.dbch_hdevnotify = tabletNotify;
            bytes.assign(reinterpret_cast<BYTE*>(&b), reinterpret_cast<BYTE*>(&b) + sizeof(b));
        }
        return bytes;
    }

    SimHidSystem sim;
    SpyHidSystem spy;
    OwnerWindow owner;
    CTabletEeprom eeprom;
    GUID hidGuid{};
    HANDLE tabletHandle = nullptr;
    HDEVNOTIFY tabletNotify = nullptr;
};

// A page no one may read: a report placed there crashes any reader.
class GuardPage {
public:
    GuardPage() : m_page(::VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS)) {}
    ~GuardPage()
    {
        if (m_page != nullptr)
            ::VirtualFree(m_page, 0, MEM_RELEASE);
    }
    GuardPage(const GuardPage&) = delete;
    GuardPage& operator=(const GuardPage&) = delete;
    LPARAM Address() const { return reinterpret_cast<LPARAM>(m_page); }

private:
    void* m_page;
};

} // namespace

TEST(DeviceChange, ClassificationTable)
{
    // The only reports that ask for action; every other combination is 0.
    struct Action {
        DWORD event;
        Report report;
        bool open;
        int result;
    };
    const Action actions[] = {
        {DBT_DEVICEARRIVAL, Report::HidInterface, false, 1},
        {DBT_DEVICEQUERYREMOVE, Report::OwnHandle, true, -1},
        {DBT_DEVICEREMOVECOMPLETE, Report::OwnHandle, true, -1},
        {DBT_DEVICEREMOVEPENDING, Report::OwnHandle, true, -1},
        {DBT_DEVICEQUERYREMOVE, Report::OwnNotification, true, -1},
        {DBT_DEVICEREMOVECOMPLETE, Report::OwnNotification, true, -1},
        {DBT_DEVICEREMOVEPENDING, Report::OwnNotification, true, -1},
    };
    const Report reports[] = {Report::HidInterface, Report::OtherInterface, Report::OwnHandle,
                              Report::OwnNotification, Report::OtherHandle, Report::Volume};

    Fixture f;
    ASSERT_NE(f.tabletHandle, nullptr);
    int row = 0;
    for (int open = 1; open >= 0; --open) {
        if (!open)
            f.eeprom.Close(); // the handle values stay as they were while open
        for (DWORD event : kEvents) {
            for (Report report : reports) {
                ++row;
                int expected = 0;
                for (const Action& a : actions) {
                    if (a.event == event && a.report == report && a.open == (open != 0))
                        expected = a.result;
                }
                std::vector<BYTE> bytes = f.Build(report);
                const LPARAM data = reinterpret_cast<LPARAM>(bytes.data());
                EXPECT_EQ(f.eeprom.ClassifyDeviceChange(event, data), expected)
                    << "row " << row << ": event 0x" << std::hex << event << std::dec << ", "
                    << Name(report) << ", tablet " << (open ? "open" : "closed");
            }
        }
    }
    EXPECT_EQ(row, 72);
}

TEST(DeviceChange, ClassGuidDifferingInAnyOneByteIsNotHid)
{
    Fixture f;
    f.eeprom.Close();
    for (int byte = 0; byte < 16; ++byte) {
        std::vector<BYTE> bytes = f.Build(Report::OtherInterface, byte);
        EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEARRIVAL,
                                                reinterpret_cast<LPARAM>(bytes.data())),
                  0)
            << "row " << byte + 1 << ": GUID byte " << byte << " differs";
    }
}

TEST(DeviceChange, ArrivalWhileOpenDoesNotReadTheReport)
{
    Fixture f;
    ASSERT_NE(f.eeprom.m_pDevice, nullptr);
    GuardPage guard;
    const unsigned before = f.spy.hidGuidCalls;
    EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEARRIVAL, guard.Address()), 0);
    // The class GUID is still fetched on every arrival.
    EXPECT_EQ(f.spy.hidGuidCalls, before + 1);

    f.eeprom.Close();
    std::vector<BYTE> bytes = f.Build(Report::HidInterface);
    const LPARAM data = reinterpret_cast<LPARAM>(bytes.data());
    EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEARRIVAL, data), 1);
    EXPECT_EQ(f.spy.hidGuidCalls, before + 2);
}

TEST(DeviceChange, OtherEventsNeverReadTheReport)
{
    const DWORD events[] = {DBT_DEVICEQUERYREMOVEFAILED,
                            DBT_DEVNODES_CHANGED,        DBT_CONFIGCHANGED,
                            DBT_CUSTOMEVENT,             DBT_DEVICETYPESPECIFIC,
                            DBT_QUERYCHANGECONFIG};
    Fixture f;
    GuardPage guard;
    int row = 0;
    for (int open = 1; open >= 0; --open) {
        if (!open)
            f.eeprom.Close();
        for (DWORD event : events) {
            ++row;
            EXPECT_EQ(f.eeprom.ClassifyDeviceChange(event, guard.Address()), 0)
                << "row " << row << ": event 0x" << std::hex << event;
        }
    }
}

// Another program can send the dialog a report that says it is shorter than
// its type's structure; Windows copies only that much. It is nothing, even
// where the bytes after it would name the tablet; whole, each of these
// reports asks for action.
TEST(DeviceChange, AReportShorterThanItsTypeIsNothing)
{
    const DWORD kHeader = sizeof(DEV_BROADCAST_HDR);
    const DWORD kGuidEnd = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    const DWORD kNotifyEnd = offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid);
    const struct {
        DWORD event;
        Report report;
        bool open;
        std::vector<DWORD> shortSizes;
        int whole;
    } rows[] = {
        {DBT_DEVICEARRIVAL, Report::HidInterface, false, {4, kHeader, kGuidEnd - 1}, 1},
        {DBT_DEVICEQUERYREMOVE, Report::OwnHandle, true, {4, kHeader, kNotifyEnd - 1}, -1},
        {DBT_DEVICEREMOVECOMPLETE, Report::OwnNotification, true, {kHeader, kNotifyEnd - 1}, -1},
        {DBT_DEVICEREMOVEPENDING, Report::OwnHandle, true, {4, kHeader, kNotifyEnd - 1}, -1},
    };
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << ++number << ": " << Name(row.report));
        Fixture f;
        if (!row.open)
            f.eeprom.Close();
        std::vector<BYTE> report = f.Build(row.report);
        const DWORD whole = static_cast<DWORD>(report.size());
        const LPARAM data = reinterpret_cast<LPARAM>(report.data());
        for (const DWORD size : row.shortSizes) {
            std::memcpy(report.data(), &size, sizeof(size));
            EXPECT_EQ(0, f.eeprom.ClassifyDeviceChange(row.event, data)) << size << " bytes";
        }
        std::memcpy(report.data(), &whole, sizeof(whole));
        EXPECT_EQ(row.whole, f.eeprom.ClassifyDeviceChange(row.event, data));
    }
}

TEST(DeviceChange, ClassificationSendsNothingToTheDevice)
{
    Fixture f;
    f.sim.ClearTrace();
    std::vector<BYTE> own = f.Build(Report::OwnHandle);
    EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEREMOVECOMPLETE,
                                            reinterpret_cast<LPARAM>(own.data())),
              -1);
    // Classifying changes nothing: the tablet is still open and still counts.
    EXPECT_NE(f.eeprom.m_pDevice, nullptr);
    EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEQUERYREMOVE,
                                            reinterpret_cast<LPARAM>(own.data())),
              -1);
    EXPECT_TRUE(f.sim.Trace().empty()) << TraceText(f.sim);
}

// Windows' removal protocol: a query is granted by closing the handle (no
// device I/O) while the notification stays to report the outcome; the
// completed or failed removal releases it, and a failed one is taken up as an
// arrival. In between the closed handle's value means nothing any more.
TEST(DeviceChange, RemovalQueryClosesTheTabletAndTheOutcomeReleasesItsNotification)
{
    const DWORD outcomes[] = {DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEQUERYREMOVEFAILED};
    for (DWORD outcome : outcomes) {
        SCOPED_TRACE(testing::Message() << "outcome 0x" << std::hex << outcome);
        Fixture f;
        ASSERT_NE(f.tabletNotify, nullptr);
        std::vector<BYTE> byHandle = f.Build(Report::OwnHandle);
        std::vector<BYTE> byNotify = f.Build(Report::OwnNotification);
        std::vector<BYTE> arrival = f.Build(Report::HidInterface);
        const auto data = [](std::vector<BYTE>& bytes) { return reinterpret_cast<LPARAM>(bytes.data()); };
        f.sim.ClearTrace();
        f.spy.log.clear();

        ASSERT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEQUERYREMOVE, data(byHandle)), -1);
        f.eeprom.FollowRemoval(DBT_DEVICEQUERYREMOVE);
        EXPECT_EQ(f.eeprom.m_pDevice, nullptr);
        EXPECT_TRUE(f.eeprom.RemovalPending());
        EXPECT_EQ(f.sim.OpenHandleCount("Tablet"), 0u) << "closed before the query is answered";
        EXPECT_EQ(f.sim.RegistrationCount(), 1u) << "the notification stays for the outcome";
        EXPECT_EQ(f.spy.log, (std::vector<std::string>{"HidD_FreePreparsedData", "CloseHandle"}));

        // Nothing reaches a device any more, whatever the callers do.
        f.eeprom.EndAccess();
        f.eeprom.BeginAccess();
        f.eeprom.WriteAll();
        f.eeprom.ReadAll();
        f.eeprom.VerifyAll();
        EXPECT_EQ(f.spy.log.size(), 2u);
        EXPECT_EQ(f.sim.Trace().size(), 1u) << TraceText(f.sim);

        // The old handle value alone no longer counts; the notification does.
        // An arrival now would reopen the tablet and refuse the removal.
        std::vector<BYTE> staleHandle = f.Build(Report::OwnHandle);
        reinterpret_cast<DEV_BROADCAST_HANDLE*>(staleHandle.data())->dbch_hdevnotify = nullptr;
        EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEREMOVECOMPLETE, data(staleHandle)), 0);
        EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEARRIVAL, data(arrival)), 0);
        EXPECT_EQ(f.eeprom.ClassifyDeviceChange(outcome, data(byNotify)),
                  outcome == DBT_DEVICEQUERYREMOVEFAILED ? 1 : -1);

        f.eeprom.FollowRemoval(outcome);
        EXPECT_FALSE(f.eeprom.RemovalPending());
        EXPECT_EQ(f.sim.RegistrationCount(), 0u);
        EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEQUERYREMOVEFAILED, data(byNotify)), 0);
        EXPECT_EQ(f.eeprom.ClassifyDeviceChange(DBT_DEVICEARRIVAL, data(arrival)), 1);
    }
}

// A removal query handled in the middle of a burst leaves the rest of it
// without a device: what could not be read is not the tablet's, even where
// an absent tablet's zeros would match.
TEST(DeviceChange, ATabletClosedMidBurstFailsTheRestOfIt)
{
    Fixture f;
    for (unsigned address = 0; address < 256; ++address)
        f.sim.SetEepromByte("Tablet", address, 0);
    f.eeprom.m_image.fill(0);
    unsigned reads = 0;
    f.spy.afterGetFeature = [&] {
        if (++reads % 256 == 10)
            f.eeprom.FollowRemoval(DBT_DEVICEQUERYREMOVE);
    };
    EXPECT_FALSE(f.eeprom.VerifyAll());
    ASSERT_EQ(f.eeprom.Open(f.owner.Get(), nullptr), TRUE);
    reads = 0;
    f.eeprom.ReadAll();
    EXPECT_FALSE(f.eeprom.ReadFailedAt(9));
    EXPECT_TRUE(f.eeprom.ReadFailedAt(10));
    EXPECT_TRUE(f.eeprom.ReadFailedAt(255));
}
