// The traffic trace: exact lines, in memory and in the trace file.

#include "SimTestSupport.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST(Trace, ExactLinesOfAWholeSession)
{
    TempFolder folder;
    const std::string file = folder.File("trace.txt");
    SimHidSystem sim;
    sim.AddDevice(SimDeviceConfig());
    ASSERT_TRUE(sim.SetTraceFile(file));
    const std::string path = sim.DevicePath("Tablet");

    const HANDLE device = Open(sim, "Tablet");
    RequestString(sim, device, TabletProtocol::kFirmwareString);
    RequestString(sim, device, TabletProtocol::kBeginAccessString);
    sim.Sleep(10);
    WriteByte(sim, device, 0, 0x55);
    sim.GetTickCount();
    sim.GetTickCount();
    ReadByte(sim, device, 0);
    ReadByte(sim, device, 255);
    BYTE empty[1] = {};
    sim.HidD_SetFeature(device, empty, 0);
    sim.Unplug("Tablet");
    ReadByte(sim, device, 1);
    sim.CloseHandle(device);
    sim.Advance(5);
    sim.Plug("Tablet");

    const std::vector<std::string> expected = {
        "0 Tablet Open " + path + " -> 1",
        "0 Tablet GetIndexedString 98 -> 1",
        "0 Tablet GetIndexedString 20 -> 1",
        "10 Tablet SetFeature 04 08 55 5D 00 00 00 00 -> 1",
        "12 Tablet GetFeature len=8 -> 1 55",
        "12 Tablet GetFeature len=263 -> 1 FF",
        "12 Tablet SetFeature -> 0",
        "12 Tablet Unplug -> 1",
        "12 Tablet GetFeature len=9 -> 0 04",
        "12 Tablet Close -> 1",
        "17 Tablet Plug -> 1",
    };
    EXPECT_EQ(TraceLines(sim), expected);
    EXPECT_EQ(TempFolder::Read(file), Joined(expected));

    // Refused opens are traced; clearing empties the memory, not the file.
    sim.ClearTrace();
    SimDeviceConfig held = Config("Held");
    held.exclusive = true;
    sim.AddDevice(held);
    Open(sim, "Held");
    const std::string refused = "17 Held Open " + sim.DevicePath("Held") + " -> 0";
    EXPECT_EQ(TraceLines(sim), std::vector<std::string>{refused});
    EXPECT_EQ(TempFolder::Read(file), Joined(expected) + refused + "\n");
    EXPECT_TRUE(sim.SetTraceFile(""));
    EXPECT_FALSE(sim.SetTraceFile(folder.Path() + "\\no\\such\\folder\\trace.txt"));
}

} // namespace
