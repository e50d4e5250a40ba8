// Moving EEPROM bytes: report bytes, requested lengths, pacing, verification,
// the behaviour with no tablet, and the refused and detected faults.

#include "TabletEeprom.h"
#include "TabletTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>

namespace {

// A simulated bus with one tablet, opened.
struct OpenTablet {
    explicit OpenTablet(SimDeviceConfig config = Device("Tablet")) : eeprom(sim)
    {
        sim.AddDevice(config);
        opened = eeprom.Open(owner.Get(), nullptr) != FALSE;
        sim.ClearTrace();
    }
    SimHidSystem sim;
    OwnerWindow owner;
    CTabletEeprom eeprom;
    bool opened = false;
};

} // namespace

TEST(Transfer, WriteReportBytes)
{
    struct Row {
        int row;
        int address;
        BYTE value;
        USHORT reportLength;
        std::vector<unsigned> report;
    };
    auto padded = [](std::vector<unsigned> head, size_t length) {
        head.resize(length, 0);
        return head;
    };
    const Row rows[] = {
        {1, 0, 0x55, 8, padded({0x04, 0x08, 0x55, 0x5D}, 8)},
        {2, 0, 0x00, 8, padded({0x04, 0x08, 0x00, 0x08}, 8)},
        {3, 247, 0xAA, 8, padded({0x04, 0xFF, 0xAA, 0x55}, 8)},
        {4, 248, 0x12, 8, padded({0x04, 0x00, 0x12, 0x12}, 8)},
        {5, 255, 0xFF, 8, padded({0x04, 0x07, 0xFF, 0xF8}, 8)},
        {6, 255, 0x00, 8, padded({0x04, 0x07, 0x00, 0x07}, 8)},
        {7, 100, 0x3C, 4, {0x04, 0x6C, 0x3C, 0x50}},
        {8, 1, 0x80, 12, padded({0x04, 0x09, 0x80, 0x89}, 12)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": address " << r.address
                                        << " value " << int(r.value));
        SimDeviceConfig config = Device("Tablet");
        config.featureReportByteLength = r.reportLength;
        OpenTablet t(config);
        ASSERT_TRUE(t.opened);
        t.eeprom.BeginAccess();
        t.sim.ClearTrace();

        EXPECT_EQ(t.eeprom.WriteByte(r.address, r.value), 1);
        const auto writes = TraceOf(t.sim, "SetFeature");
        ASSERT_EQ(writes.size(), 1u) << TraceText(t.sim);
        EXPECT_EQ(writes[0].arguments, HexBytes(r.report));
        EXPECT_EQ(t.sim.Eeprom("Tablet")[r.address], r.value);
    }
}

TEST(Transfer, ReadRequestLengthsAndValue)
{
    struct Row {
        int row;
        int address;
        std::string length;
    };
    const Row rows[] = {{1, 0, "len=8"}, {2, 1, "len=9"}, {3, 247, "len=255"}, {4, 248, "len=256"},
                        {5, 255, "len=263"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": address " << r.address);
        OpenTablet t;
        ASSERT_TRUE(t.opened);
        const BYTE value = static_cast<BYTE>(0x30 + r.row);
        t.sim.SetEepromByte("Tablet", r.address, value);

        EXPECT_EQ(t.eeprom.ReadByte(r.address), value);
        const auto reads = TraceOf(t.sim, "GetFeature");
        ASSERT_EQ(reads.size(), 1u) << TraceText(t.sim);
        EXPECT_EQ(reads[0].arguments, r.length);
    }
}

TEST(Transfer, AccessRequestsUseStrings20And21)
{
    OpenTablet t;
    ASSERT_TRUE(t.opened);
    EXPECT_NE(t.eeprom.BeginAccess(), 0);
    EXPECT_TRUE(t.sim.AccessOpen("Tablet"));
    EXPECT_NE(t.eeprom.EndAccess(), 0);
    EXPECT_FALSE(t.sim.AccessOpen("Tablet"));
    const auto strings = TraceOf(t.sim, "GetIndexedString");
    ASSERT_EQ(strings.size(), 2u) << TraceText(t.sim);
    EXPECT_EQ(strings[0].arguments.substr(0, 2), "20");
    EXPECT_EQ(strings[1].arguments.substr(0, 2), "21");
}

// An observer that counts, and takes `busyMs` of the clock each time.
struct CountingObserver : TransferObserver {
    CountingObserver(SimHidSystem& sim, DWORD busyMs) : sim(sim), busyMs(busyMs) {}
    void OnTransfer() override
    {
        ++count;
        sim.Advance(busyMs);
    }
    SimHidSystem& sim;
    DWORD busyMs;
    unsigned count = 0;
};

// The simulated tick count moves in 15.625 ms steps as Windows' does, so a
// pause measured on it would come out shorter than the delay here too.
TEST(Transfer, WriteAllPacesEveryByteOnTheCounter)
{
    struct Row {
        int row;
        DWORD delay;
        DWORD observerMs; // time the observer takes inside each pause
        DWORD gap;        // shortest and longest gap between two writes, in ms
        DWORD longest;
    };
    const Row rows[] = {
        {1, 0, 0, 0, 0},   {2, 1, 0, 1, 2},  {3, 10, 0, 10, 11}, {4, 20, 0, 20, 21},
        {5, 10, 4, 10, 11}, // the observer's time is part of the pause
        {6, 10, 25, 25, 26}, // a slow observer lengthens it
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": delay " << r.delay
                                        << ", observer " << r.observerMs << " ms");
        OpenTablet t;
        ASSERT_TRUE(t.opened);
        t.eeprom.BeginAccess();
        for (unsigned a = 0; a < 256; ++a)
            t.eeprom.m_image[a] = static_cast<BYTE>(255 - a);
        t.eeprom.m_nWriteDelay = r.delay;
        CountingObserver observer(t.sim, r.observerMs);
        t.eeprom.SetTransferObserver(&observer);
        t.sim.ClearTrace();

        t.eeprom.WriteAll();
        const DWORD end = t.sim.Now();
        EXPECT_EQ(observer.count, 256u);
        const auto writes = TraceOf(t.sim, "SetFeature");
        ASSERT_EQ(writes.size(), 256u);
        DWORD shortest = 0xFFFFFFFF;
        DWORD longest = 0;
        for (size_t i = 0; i < writes.size(); ++i) {
            // Ascending addresses: codes 8..255, then 0..7.
            const unsigned code = std::stoul(writes[i].arguments.substr(3, 2), nullptr, 16);
            EXPECT_EQ(code, (i + 8) & 0xFF) << "write " << i;
            if (i == 0)
                continue;
            const DWORD gap = writes[i].timeMs - writes[i - 1].timeMs;
            shortest = std::min(shortest, gap);
            longest = std::max(longest, gap);
        }
        EXPECT_EQ(shortest, r.gap);
        EXPECT_LE(longest, r.longest) << "at most about a millisecond longer";
        // The pause follows the last byte too.
        EXPECT_GE(end - writes.back().timeMs, r.gap);
        for (unsigned a = 0; a < 256; ++a)
            ASSERT_EQ(t.sim.Eeprom("Tablet")[a], 255 - a) << "address " << a;
    }
}

// One call per transfer of the whole-image operations and per string request,
// none for the single-byte ones; none once the observer is taken away. The
// counts are the ones the tablet layer gives for progress displays.
TEST(Transfer, TheObserverHearsOfEachTransfer)
{
    OpenTablet t;
    ASSERT_TRUE(t.opened);
    CountingObserver observer(t.sim, 0);
    EXPECT_EQ(t.eeprom.SetTransferObserver(&observer), nullptr);
    char folder[MAX_PATH] = {};
    char burnFile[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetTempPathA(MAX_PATH, folder));
    ASSERT_NE(0u, ::GetTempFileNameA(folder, "tqc", 0, burnFile));
    QcDataFile::Image image{};
    ASSERT_TRUE(QcDataFile::Save(burnFile, image));
    struct Row {
        const char* what;
        std::function<void()> run;
        unsigned calls;
    };
    const unsigned string = CTabletEeprom::kStringRequestTransfers;
    const unsigned image256 = CTabletEeprom::kWholeImageTransfers;
    ASSERT_EQ(256u, image256);
    const Row rows[] = {
        {"BeginAccess", [&] { t.eeprom.BeginAccess(); }, string},
        {"ReadAll", [&] { t.eeprom.ReadAll(); }, image256},
        {"WriteAll", [&] { t.eeprom.WriteAll(); }, image256},
        {"paced WriteAll",
         [&] {
             t.eeprom.m_nWriteDelay = 2;
             t.eeprom.WriteAll();
             t.eeprom.m_nWriteDelay = 0;
         },
         image256},
        {"VerifyAll, all equal", [&] { EXPECT_EQ(t.eeprom.VerifyAll(), TRUE); }, image256},
        {"VerifyAll, differs at 9",
         [&] {
             t.eeprom.m_image[9] ^= 1;
             EXPECT_EQ(t.eeprom.VerifyAll(), FALSE);
         },
         10},
        {"ReadByte and WriteByte", [&] { t.eeprom.WriteByte(3, t.eeprom.ReadByte(3)); }, 0},
        {"Open with a file to burn",
         [&] { EXPECT_NE(t.eeprom.Open(t.owner.Get(), burnFile), FALSE); },
         CTabletEeprom::kBurnTransfers},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        observer.count = 0;
        r.run();
        EXPECT_EQ(observer.count, r.calls);
    }
    ::DeleteFileA(burnFile);
    EXPECT_EQ(t.eeprom.SetTransferObserver(nullptr), &observer);
    observer.count = 0;
    t.eeprom.ReadAll();
    EXPECT_EQ(observer.count, 0u);
}

TEST(Transfer, VerifyAllStopsAtTheFirstDifference)
{
    struct Row {
        int row;
        int differAt; // -1: no difference
        BOOL result;
        size_t reads;
    };
    const Row rows[] = {{1, -1, TRUE, 256}, {2, 0, FALSE, 1}, {3, 100, FALSE, 101},
                        {4, 255, FALSE, 256}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": differs at " << r.differAt);
        OpenTablet t;
        ASSERT_TRUE(t.opened);
        for (unsigned a = 0; a < 256; ++a)
            t.sim.SetEepromByte("Tablet", a, static_cast<BYTE>(a * 3));
        t.eeprom.m_image = t.sim.Eeprom("Tablet");
        if (r.differAt >= 0)
            t.eeprom.m_image[r.differAt] ^= 0x01;
        const auto image = t.eeprom.m_image;
        t.sim.ClearTrace();

        EXPECT_EQ(t.eeprom.VerifyAll(), r.result);
        EXPECT_EQ(TraceOf(t.sim, "GetFeature").size(), r.reads);
        EXPECT_EQ(DeviceRequests(t.sim).size(), r.reads) << "only reads";
        EXPECT_TRUE(t.eeprom.m_image == image) << "VerifyAll changed the image";
    }
}

TEST(Transfer, NoDeviceOpen)
{
    SimHidSystem sim;
    CTabletEeprom eeprom(sim);

    eeprom.m_image.fill(0x5A);
    eeprom.ReadAll();
    for (unsigned a = 0; a < 256; ++a) {
        ASSERT_EQ(eeprom.m_image[a], 0) << "address " << a;
        ASSERT_FALSE(eeprom.ReadFailedAt(a)) << "address " << a;
    }
    EXPECT_EQ(eeprom.VerifyAll(), TRUE) << "all zeros";
    eeprom.m_image[200] = 1;
    EXPECT_EQ(eeprom.VerifyAll(), FALSE) << "one byte not zero";

    // Still pauses after every byte, on the same clock.
    eeprom.m_nWriteDelay = 5;
    const DWORD start = sim.Now();
    eeprom.WriteAll();
    EXPECT_GE(sim.Now() - start, 256u * 5);

    BYTE scratch[256] = {};
    EXPECT_EQ(eeprom.BeginAccess(), 0);
    EXPECT_EQ(eeprom.EndAccess(), 0);
    EXPECT_EQ(eeprom.GetIndexedString(98, scratch, sizeof(scratch)), 0);
    EXPECT_EQ(eeprom.ReadByte(3), 0);
    EXPECT_EQ(eeprom.WriteByte(3, 7), 0);
    EXPECT_EQ(DeviceRequests(sim).size(), 0u) << TraceText(sim);
}

TEST(Transfer, AddressOutsideTheEepromMakesNoTransfer)
{
    const int addresses[] = {-1, -8, 256, 263, 1000, INT_MIN, INT_MAX};
    OpenTablet t;
    ASSERT_TRUE(t.opened);
    t.eeprom.BeginAccess();
    t.sim.ClearTrace();
    for (size_t i = 0; i < sizeof(addresses) / sizeof(addresses[0]); ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i + 1 << ": address " << addresses[i]);
        EXPECT_EQ(t.eeprom.ReadByte(addresses[i]), 0);
        EXPECT_EQ(t.eeprom.WriteByte(addresses[i], 0x42), 0);
    }
    EXPECT_EQ(DeviceRequests(t.sim).size(), 0u) << TraceText(t.sim);
    for (unsigned a = 0; a < 256; ++a)
        ASSERT_NE(t.sim.Eeprom("Tablet")[a], 0x42) << "address " << a;
}

TEST(Transfer, FeatureReportTooShortForAWriteGetsNone)
{
    struct Row {
        int row;
        USHORT length;
        BYTE result;
        size_t writes;
    };
    const Row rows[] = {{1, 1, 0, 0}, {2, 2, 0, 0}, {3, 3, 0, 0}, {4, 4, 1, 1}, {5, 5, 1, 1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << r.row << ": report length " << r.length);
        SimDeviceConfig config = Device("Tablet");
        config.featureReportByteLength = r.length;
        OpenTablet t(config);
        ASSERT_TRUE(t.opened);
        t.eeprom.BeginAccess();
        t.sim.ClearTrace();
        EXPECT_EQ(t.eeprom.WriteByte(9, 0x21), r.result);
        EXPECT_EQ(TraceOf(t.sim, "SetFeature").size(), r.writes) << TraceText(t.sim);
    }
}

TEST(Transfer, FailedReadIsReportedAndNeverMatches)
{
    // The failing read leaves the report id, 4, where the value would be.
    const unsigned failing = 10;
    for (int injected = 0; injected < 2; ++injected) {
        SCOPED_TRACE(injected ? "read of address 10 fails" : "no failure");
        SimDeviceConfig config = Device("Tablet");
        for (unsigned a = 0; a < 256; ++a)
            config.eeprom[a] = static_cast<BYTE>(a ^ 0x5C);
        config.eeprom[failing] = 0x04; // what a failed read would pass off as the value
        if (injected)
            config.failReadAt = failing + 1; // ReadAll reads in ascending order
        OpenTablet t(config);
        ASSERT_TRUE(t.opened);

        t.eeprom.ReadAll();
        for (unsigned a = 0; a < 256; ++a) {
            EXPECT_EQ(t.eeprom.ReadFailedAt(a), injected && a == failing) << "address " << a;
            EXPECT_EQ(t.eeprom.m_image[a], config.eeprom[a]) << "address " << a;
        }
        EXPECT_FALSE(t.eeprom.ReadFailedAt(256));
        // A later read that succeeds clears what the earlier one recorded.
        t.eeprom.ReadAll();
        EXPECT_FALSE(t.eeprom.ReadFailedAt(failing));

        // The same bytes again; the Nth failing read is counted from the start.
        SimDeviceConfig again = config;
        if (injected)
            again.failReadAt = failing + 1;
        OpenTablet v(again);
        ASSERT_TRUE(v.opened);
        v.eeprom.m_image = config.eeprom;
        EXPECT_EQ(v.eeprom.VerifyAll(), injected ? FALSE : TRUE);
    }

    SimDeviceConfig config = Device("Tablet");
    config.eeprom[5] = 0x99;
    config.failReadAt = 1;
    OpenTablet t(config);
    ASSERT_TRUE(t.opened);
    EXPECT_EQ(t.eeprom.ReadByte(5), 4) << "a failed read keeps its documented value";
    EXPECT_EQ(t.eeprom.ReadByte(5), 0x99);
}
