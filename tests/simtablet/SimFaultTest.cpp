// Faults on demand, the clocks, and devices that come and go on a timeline.

#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <iterator>

using namespace simtest;

namespace {

// Runs `count` reads of address 0; returns which of them (1-based) failed.
std::vector<unsigned> FailedReads(SimHidSystem& sim, HANDLE device, unsigned count)
{
    std::vector<unsigned> failed;
    for (unsigned n = 1; n <= count; ++n) {
        BOOLEAN ok = FALSE;
        const BYTE value = ReadByte(sim, device, 0, &ok);
        if (!ok) {
            failed.push_back(n);
            EXPECT_EQ(value, TabletProtocol::kReportId) << "failed read " << n << " left byte 0 alone";
        }
    }
    return failed;
}

TEST(Faults, FailReadAtCountsEveryGetOnTheDevice)
{
    SimHidSystem sim;
    SimDeviceConfig config = Config("Tablet");
    config.failReadAt = 3;
    sim.AddDevice(config);
    HANDLE device = Open(sim, "Tablet");
    EXPECT_EQ(FailedReads(sim, device, 2), std::vector<unsigned>{});
    // Writes and strings do not count; a new handle does not restart the count.
    RequestString(sim, device, TabletProtocol::kBeginAccessString);
    WriteByte(sim, device, 0, 1);
    sim.CloseHandle(device);
    device = Open(sim, "Tablet");
    EXPECT_EQ(FailedReads(sim, device, 4), std::vector<unsigned>{1});
}

TEST(Faults, FailWriteAtAndStuckAddress)
{
    SimHidSystem sim;
    SimDeviceConfig config = Config("Tablet");
    config.failWriteAt = 2;
    config.stuckAddress = 200;
    sim.AddDevice(config);
    const HANDLE device = Open(sim, "Tablet");
    RequestString(sim, device, TabletProtocol::kBeginAccessString);

    struct Row {
        BYTE address, value;
        bool reportsSuccess;
        BYTE stored;
    };
    const Row rows[] = {
        /* 1st write */ {10, 0x11, true, 0x11},
        /* 2nd: fails */ {11, 0x22, false, 0xFF},
        /* 3rd */ {11, 0x33, true, 0x33},
        /* stuck */ {200, 0x44, true, 0xFF},
        /* next to it */ {201, 0x55, true, 0x55},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(WriteByte(sim, device, rows[i].address, rows[i].value) != FALSE, rows[i].reportsSuccess)
            << "row " << i;
        EXPECT_EQ(sim.Eeprom("Tablet")[rows[i].address], rows[i].stored) << "row " << i;
    }
}

TEST(Faults, UnplugAfterTransfersThenReplugOnTheVirtualClock)
{
    SimHidSystem sim;
    SimDeviceConfig config = Config("Tablet");
    config.unplugAfterTransfers = 3;
    config.replugAfterMs = 500;
    sim.AddDevice(config);
    const HANDLE device = Open(sim, "Tablet");
    const std::string path = sim.DevicePath("Tablet");

    EXPECT_TRUE(RequestString(sim, device, TabletProtocol::kBeginAccessString)); // 1
    EXPECT_TRUE(WriteByte(sim, device, 4, 0x44));                                 // 2
    BOOLEAN ok = FALSE;
    EXPECT_EQ(ReadByte(sim, device, 4, &ok), 0x44);                               // 3
    EXPECT_TRUE(ok);
    EXPECT_FALSE(sim.IsPlugged("Tablet"));
    ReadByte(sim, device, 4, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(TraceLines(sim).back(), "0 Tablet GetFeature len=12 -> 0 04");

    sim.Advance(499);
    sim.PumpMessages();
    EXPECT_FALSE(sim.IsPlugged("Tablet")) << "not due yet";
    sim.Advance(1);
    sim.PumpMessages();
    EXPECT_TRUE(sim.IsPlugged("Tablet"));
    EXPECT_EQ(TraceLines(sim).back(), "500 Tablet Plug -> 1");
    EXPECT_EQ(sim.Eeprom("Tablet")[4], 0x44);
    EXPECT_EQ(sim.DevicePath("Tablet"), path);
    ReadByte(sim, device, 4, &ok);
    EXPECT_FALSE(ok) << "a handle from before the unplug stays dead";

    // Back on the bus, but only once: the count does not start again.
    const HANDLE again = Open(sim, "Tablet");
    EXPECT_EQ(FailedReads(sim, again, 5), std::vector<unsigned>{});
    EXPECT_TRUE(sim.IsPlugged("Tablet"));
}

TEST(Faults, LatencyAdvancesTheVirtualClockPerTransfer)
{
    SimHidSystem sim;
    SimDeviceConfig config = Config("Tablet");
    config.latencyMs = 7;
    sim.AddDevice(config);
    const HANDLE device = Open(sim, "Tablet");
    RequestString(sim, device, TabletProtocol::kFirmwareString);
    ReadByte(sim, device, 0);
    WriteByte(sim, device, 0, 0);
    std::vector<DWORD> times;
    for (const SimTraceEntry& entry : sim.Trace())
        times.push_back(entry.timeMs);
    EXPECT_EQ(times, (std::vector<DWORD>{0, 0, 7, 14}));
    EXPECT_EQ(sim.Now(), 21u);
}

TEST(Clock, VirtualMovesOnlyWhenMoved)
{
    SimHidSystem sim;
    EXPECT_EQ(sim.ClockKind(), SimClockKind::Virtual);
    EXPECT_EQ(sim.GetTickCount(), 0u);
    EXPECT_EQ(sim.GetTickCount(), 0u) << "the tick count moves in whole timer steps";
    EXPECT_EQ(sim.Now(), 2u) << "each reading moves the clock 1 ms";
    sim.Sleep(100);
    EXPECT_EQ(sim.Now(), 102u);
    sim.Advance(1000);
    EXPECT_EQ(sim.Now(), 1102u);

    // A busy wait on the tick count ends, but measures in steps of 15.625 ms:
    // started at 1102 (the step from 1093.75), this 10 ms pause ends at 1111.
    const DWORD begin = sim.Now();
    const DWORD start = sim.GetTickCount();
    EXPECT_EQ(start, 1093u);
    unsigned readings = 0;
    while (sim.GetTickCount() - start < 10)
        ++readings;
    EXPECT_EQ(readings, 7u);
    EXPECT_EQ(sim.Now() - begin, 9u) << "shorter than asked, as on Windows";

    // The high-resolution counter: 10 MHz, 7 us a reading, following the clock.
    LARGE_INTEGER frequency{};
    LARGE_INTEGER first{};
    LARGE_INTEGER second{};
    LARGE_INTEGER third{};
    ASSERT_TRUE(sim.QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    ASSERT_TRUE(sim.QueryPerformanceCounter(&first));
    ASSERT_TRUE(sim.QueryPerformanceCounter(&second));
    EXPECT_EQ(second.QuadPart - first.QuadPart, 70);
    EXPECT_EQ(first.QuadPart / 10000, sim.Now()) << "the same time as the clock's";
    sim.Sleep(3);
    ASSERT_TRUE(sim.QueryPerformanceCounter(&third));
    EXPECT_EQ(third.QuadPart - second.QuadPart, 30070);
}

// A device that arrives later, seen by a real window through a real loop.
struct TimedArrival {
    SimClockKind clock;
    int plugInAfterMs;
    DWORD realLimitMs; // the loop must have seen it by then
};

class Timeline : public ::testing::TestWithParam<TimedArrival> {};

TEST_P(Timeline, ArrivalFiresFromTheMessageLoop)
{
    const TimedArrival row = GetParam();
    RecordingWindow window;
    SimHidSystem sim(row.clock);
    SimDeviceConfig late = Config("Late");
    late.plugInAfterMs = row.plugInAfterMs;
    sim.AddDevice(late);
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kHidGuid;
    ASSERT_NE(sim.RegisterDeviceNotificationA(window.Handle(), &filter, 0), nullptr);

    EXPECT_FALSE(sim.IsPlugged("Late"));
    EXPECT_EQ(Open(sim, "Late"), INVALID_HANDLE_VALUE);
    sim.PumpMessages();
    EXPECT_FALSE(sim.IsPlugged("Late")) << "PumpMessages fires only what is due";

    const DWORD realStart = ::GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return !window.Reports().empty(); }, row.realLimitMs));
    const DWORD realElapsed = ::GetTickCount() - realStart;
    EXPECT_EQ(window.Reports()[0].event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    const SimTraceEntry& plug = sim.Trace().back();
    EXPECT_EQ(plug.call, "Plug");
    if (row.clock == SimClockKind::Virtual) {
        EXPECT_EQ(plug.timeMs, static_cast<DWORD>(row.plugInAfterMs)) << "jumps exactly to the event";
    } else {
        EXPECT_GE(plug.timeMs, static_cast<DWORD>(row.plugInAfterMs));
        EXPECT_GE(realElapsed + 20, static_cast<DWORD>(row.plugInAfterMs)) << "not before its time";
    }
}

INSTANTIATE_TEST_SUITE_P(BothClocks, Timeline,
                         ::testing::Values(TimedArrival{SimClockKind::Virtual, 60000, 2000},
                                           TimedArrival{SimClockKind::Real, 80, 3000}));

} // namespace
