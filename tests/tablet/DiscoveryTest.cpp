// Finding, opening and closing the tablet over the simulated bus.

#include "DeviceDiscovery.h"
#include "SpyHidSystem.h"
#include "TabletEeprom.h"
#include "TabletTestSupport.h"

#include <gtest/gtest.h>

namespace {

SimDeviceConfig Hid(const std::string& name, USHORT vendor, USHORT product, USHORT page,
                    USHORT usage, bool exclusive = false)
{
    SimDeviceConfig config = Device(name);
    config.vendorId = vendor;
    config.productId = product;
    config.usagePage = page;
    config.usage = usage;
    config.exclusive = exclusive;
    return config;
}

struct MatchRow {
    int row;
    const char* what;
    std::vector<SimDeviceConfig> bus;
    std::string opened; // empty: nothing found
};

} // namespace

TEST(Discovery, MatchingRules)
{
    const SimDeviceConfig tablet = Device("Tablet");
    const std::vector<MatchRow> rows = {
        {1, "the tablet alone", {tablet}, "Tablet"},
        {2, "first of two matches wins", {Device("A"), Device("B")}, "A"},
        {3, "vendor-only match, other product", {Hid("P43", 0x6A3D, 0x0043, 1, 0)}, "P43"},
        {4, "digitizer page skipped", {Hid("Pen", 0x6A3D, 0x0042, 0x0D, 0x02), tablet}, "Tablet"},
        {5, "usage 2 on page 1 skipped", {Hid("Mouse", 0x6A3D, 0x0042, 1, 2), tablet}, "Tablet"},
        {6, "shared-access refusal skipped", {Hid("Locked", 0x6A3D, 0x0042, 1, 0, true), tablet},
         "Tablet"},
        {7, "generic mouse before the tablet", {Mouse("M"), tablet}, "Tablet"},
        {8, "only a generic mouse", {Mouse("M")}, ""},
        {9, "other vendor, same usage", {Hid("Other", 0x1234, 0x0042, 1, 0)}, ""},
        {10, "empty bus", {}, ""},
        {11, "only a device refusing sharing", {Hid("Locked", 0x6A3D, 0x0042, 1, 0, true)}, ""},
        {12, "vendor-only match before the model", {Hid("P43", 0x6A3D, 0x0043, 1, 0), tablet},
         "P43"},
    };
    for (const MatchRow& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": " << r.what);
        SimHidSystem sim;
        for (const SimDeviceConfig& config : r.bus)
            sim.AddDevice(config);
        OwnerWindow owner;
        CTabletEeprom eeprom(sim);

        EXPECT_EQ(eeprom.Open(owner.Get(), nullptr), r.opened.empty() ? FALSE : TRUE);
        bool pastChosen = false;
        for (const SimDeviceConfig& config : r.bus) {
            SCOPED_TRACE("device " + config.name);
            const bool chosen = config.name == r.opened;
            EXPECT_EQ(sim.OpenHandleCount(config.name), chosen ? 1u : 0u);
            if (pastChosen) {
                EXPECT_EQ(TraceOf(sim, "Open", config.name).size(), 0u) << TraceText(sim);
            }
            if (chosen) {
                ASSERT_NE(eeprom.m_pDevice, nullptr);
                EXPECT_EQ(eeprom.m_pDevice->attributes.ProductID, config.productId);
            }
            pastChosen = pastChosen || chosen;
        }
        EXPECT_EQ(DeviceRequests(sim).size(), 0u) << TraceText(sim);
    }
}

TEST(Discovery, CandidateFailingAnOpenStepIsReleasedAndSkipped)
{
    struct Row {
        int row;
        const char* failing;
        unsigned freesAfterClose; // preparsed data given back over the whole run
    };
    const Row rows[] = {
        {1, "CreateFileA", 1},
        {2, "HidD_GetPreparsedData", 1},
        {3, "HidD_GetAttributes", 2},
        {4, "HidP_GetCaps", 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": " << r.failing << " fails");
        SimHidSystem sim;
        sim.AddDevice(Device("First"));
        sim.AddDevice(Device("Second"));
        SpyHidSystem spy(sim);
        spy.failPath = sim.DevicePath("First");
        spy.failCalls = {r.failing};
        OwnerWindow owner;
        CTabletEeprom eeprom(spy);

        EXPECT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);
        EXPECT_EQ(sim.OpenHandleCount("First"), 0u);
        EXPECT_EQ(sim.OpenHandleCount("Second"), 1u);
        eeprom.Close();
        EXPECT_EQ(sim.OpenHandleCount("Second"), 0u);
        EXPECT_EQ(spy.Count("HidD_FreePreparsedData"), r.freesAfterClose);
        EXPECT_EQ(spy.Count("CloseHandle"), spy.Count("CreateFileA") - (r.row == 1 ? 1u : 0u));
        // A failed open is INVALID_HANDLE_VALUE, never used as a handle.
        EXPECT_EQ(spy.Count("HidD_GetPreparsedData"), r.row == 1 ? 1u : 2u);
    }
}

TEST(Discovery, OpenMatchingDeviceLeavesRecordEmptyOnMismatch)
{
    SimHidSystem sim;
    sim.AddDevice(Mouse("M"));
    sim.AddDevice(Device("Tablet"));
    std::unique_ptr<HidDeviceRecord> record;
    EXPECT_EQ(OpenMatchingDevice(sim, sim.DevicePath("Tablet").c_str(), 0x6A3D, 0xFFFF, 1, 0,
                                 record),
              TRUE);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 1u);

    // A mismatch empties the record it was handed, closing what it held.
    EXPECT_EQ(OpenMatchingDevice(sim, sim.DevicePath("M").c_str(), 0x6A3D, 0xFFFF, 1, 0, record),
              FALSE);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 0u);
    EXPECT_EQ(sim.OpenHandleCount("M"), 0u);

    // 0xFFFF everywhere matches anything, the mouse included.
    EXPECT_EQ(OpenMatchingDevice(sim, sim.DevicePath("M").c_str(), 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                 record),
              TRUE);
    record.reset();
    EXPECT_EQ(sim.OpenHandleCount("M"), 0u);
}

TEST(Discovery, DetailSizeAndHandleFilterUseTheStructureSizes)
{
    // The 32-bit layout packs the detail's fixed part to 5 bytes; x64 pads it to 8.
    const DWORD detailCbSize = sizeof(void*) == 4 ? 5 : 8;
    const DWORD handleFilterSize = sizeof(void*) == 4 ? 44 : 56;

    SimHidSystem sim;
    sim.AddDevice(Mouse("M"));
    sim.AddDevice(Device("Tablet"));
    SpyHidSystem spy(sim);
    OwnerWindow owner;
    CTabletEeprom eeprom(spy);
    ASSERT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);

    ASSERT_EQ(spy.detailCbSizes.size(), 2u);
    for (DWORD cbSize : spy.detailCbSizes)
        EXPECT_EQ(cbSize, detailCbSize);
    EXPECT_EQ(spy.Count("SetupDiGetClassDevsA"), 1u);
    EXPECT_EQ(spy.Count("SetupDiDestroyDeviceInfoList"), 1u);

    ASSERT_EQ(spy.handleFilters.size(), 1u);
    EXPECT_EQ(spy.handleFilters[0].dbch_size, handleFilterSize);
    EXPECT_EQ(spy.handleFilters[0].dbch_devicetype, static_cast<DWORD>(DBT_DEVTYP_HANDLE));
    EXPECT_EQ(spy.handleFilters[0].dbch_handle, eeprom.m_pDevice->handle);
    EXPECT_EQ(sim.RegistrationCount(), 1u);
    EXPECT_EQ(eeprom.m_hHandleNotify.Get() != nullptr, true);
}

TEST(Discovery, OpenTwiceReleasesTheFirstBeforeOpeningAgain)
{
    SimHidSystem sim;
    sim.AddDevice(Device("Tablet"));
    SpyHidSystem spy(sim);
    OwnerWindow owner;
    CTabletEeprom eeprom(spy);

    ASSERT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);
    EXPECT_EQ(sim.RegistrationCount(), 1u);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 1u);

    spy.log.clear();
    ASSERT_EQ(eeprom.Open(owner.Get(), ""), TRUE);
    EXPECT_EQ(sim.RegistrationCount(), 1u);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 1u);
    // Old notification, old preparsed data, old handle; only then the search.
    const int unregister = spy.Find("UnregisterDeviceNotification");
    const int free = spy.Find("HidD_FreePreparsedData");
    const int close = spy.Find("CloseHandle");
    const int search = spy.Find("SetupDiGetClassDevsA");
    const int reopen = spy.Find("CreateFileA");
    const int reregister = spy.Find("RegisterDeviceNotificationA");
    EXPECT_TRUE(unregister == 0 && free == 1 && close == 2 && search == 3 && reopen > search &&
                reregister > reopen)
        << "order: unregister " << unregister << ", free " << free << ", close " << close
        << ", search " << search << ", open " << reopen << ", register " << reregister;
    ASSERT_EQ(spy.handleFilters.size(), 2u);
    EXPECT_EQ(spy.handleFilters[1].dbch_handle, eeprom.m_pDevice->handle);
    EXPECT_EQ(eeprom.LastBurn(), CTabletEeprom::BurnOutcome::None);

    eeprom.Close();
    EXPECT_EQ(sim.RegistrationCount(), 0u);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 0u);
    EXPECT_EQ(eeprom.m_pDevice, nullptr);
    EXPECT_FALSE(eeprom.m_hHandleNotify);

    // Close on nothing touches nothing.
    spy.log.clear();
    const size_t traced = sim.Trace().size();
    eeprom.Close();
    EXPECT_TRUE(spy.log.empty()) << spy.log.front();
    EXPECT_EQ(sim.Trace().size(), traced);
}

TEST(Discovery, OpenWithTheTabletGoneClosesTheOldOneAndFails)
{
    SimHidSystem sim;
    sim.AddDevice(Device("Tablet"));
    OwnerWindow owner;
    CTabletEeprom eeprom(sim);
    ASSERT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);
    ASSERT_TRUE(sim.Unplug("Tablet"));
    EXPECT_EQ(eeprom.Open(owner.Get(), nullptr), FALSE);
    EXPECT_EQ(eeprom.m_pDevice, nullptr);
    EXPECT_EQ(sim.RegistrationCount(), 0u);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 0u);
}

TEST(Discovery, FailedRegistrationKeepsTheTabletAndIsRetriedByTheNextOpen)
{
    SimHidSystem sim;
    sim.AddDevice(Device("Tablet"));
    SpyHidSystem spy(sim);
    OwnerWindow owner;
    CTabletEeprom eeprom(spy);

    spy.failCalls = {"RegisterDeviceNotificationA"};
    EXPECT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);
    EXPECT_NE(eeprom.m_pDevice, nullptr);
    EXPECT_FALSE(eeprom.m_hHandleNotify);

    spy.failCalls.clear();
    EXPECT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);
    EXPECT_TRUE(eeprom.m_hHandleNotify);
    EXPECT_EQ(sim.RegistrationCount(), 1u);
}

TEST(Discovery, DestructionReleasesEverything)
{
    SimHidSystem sim;
    sim.AddDevice(Device("Tablet"));
    OwnerWindow owner;
    {
        CTabletEeprom eeprom(sim);
        ASSERT_EQ(eeprom.Open(owner.Get(), nullptr), TRUE);
    }
    EXPECT_EQ(sim.RegistrationCount(), 0u);
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 0u);
}
