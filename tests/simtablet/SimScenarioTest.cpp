// Scenario files on real files through the real profile functions, and the
// demo's environment variables.

#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <memory>

using namespace simtest;

namespace {

HIDD_ATTRIBUTES AttributesOf(SimHidSystem& sim, const std::string& name)
{
    HIDD_ATTRIBUTES attributes{};
    const HANDLE device = Open(sim, name);
    sim.HidD_GetAttributes(device, &attributes);
    sim.CloseHandle(device);
    return attributes;
}

// The device's serial number string; "-" when the request fails.
std::string SerialOf(SimHidSystem& sim, const std::string& name)
{
    WCHAR text[128] = {};
    const HANDLE device = Open(sim, name);
    const bool ok = sim.HidD_GetSerialNumberString(device, text, sizeof(text)) != FALSE;
    sim.CloseHandle(device);
    return ok ? std::string(text, text + std::wcslen(text)) : "-";
}

std::string FirmwareOf(SimHidSystem& sim, const std::string& name)
{
    WCHAR text[128] = {};
    const HANDLE device = Open(sim, name);
    sim.HidD_GetIndexedString(device, TabletProtocol::kFirmwareString, text, sizeof(text));
    sim.CloseHandle(device);
    std::string narrow;
    for (const WCHAR* c = text; *c != 0; ++c)
        narrow += static_cast<char>(*c);
    return narrow;
}

// Restores an environment variable when the test ends.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : m_name(name)
    {
        char old[1024];
        const DWORD length = ::GetEnvironmentVariableA(name, old, sizeof(old));
        m_hadValue = length != 0 && length < sizeof(old);
        if (m_hadValue)
            m_old = old;
        ::SetEnvironmentVariableA(name, value);
    }
    ~EnvironmentVariable() { ::SetEnvironmentVariableA(m_name, m_hadValue ? m_old.c_str() : nullptr); }

private:
    const char* m_name;
    bool m_hadValue = false;
    std::string m_old;
};

TEST(Scenario, GoodFileSetsUpTheBus)
{
    TempFolder folder;
    folder.Write("image.tqc", "[EEPROM DATA]\r\nValue000=85\r\nValue001=0\r\nValue255=7\r\n");
    folder.Write("bus.ini", "[Bus]\r\nDevices = Mouse , Tablet,Keyboard\r\nClock=Virtual\r\n"
                            "[Tablet]\r\nKind=tablet\r\nProductID=0x51\r\nFirmware=R999 test\r\n"
                            "EepromFile=image.tqc\r\nFailWriteAt=0x3\r\nLatencyMs=5\r\n"
                            "UnplugAfterTransfers=6\r\nRemoveOrderly=1\r\nQueryRemoveFails=1\r\n"
                            "[Mouse]\r\nKind=generic\r\nVendorID=0x046D\r\nProductID=49271\r\n"
                            "SerialNumber=M-77 a\r\n"
                            "[Keyboard]\r\nKind=GENERIC\r\nExclusive=1\r\n");
    // A relative name means the current folder, not the Windows folder
    // where the profile functions would look for it.
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.Path().c_str()));
    std::string error;
    const auto sim = SimHidSystem::FromScenario("bus.ini", &error);
    ::SetCurrentDirectoryA(previous);
    ASSERT_TRUE(sim) << error;

    EXPECT_EQ(sim->ClockKind(), SimClockKind::Virtual);
    const HDEVINFO set = sim->SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(*sim, set), (std::vector<std::string>{sim->DevicePath("Mouse"), sim->DevicePath("Tablet"),
                                                          sim->DevicePath("Keyboard")}));
    EXPECT_EQ(AttributesOf(*sim, "Tablet").VendorID, TabletProtocol::kVendorId);
    EXPECT_EQ(AttributesOf(*sim, "Tablet").ProductID, 0x51);
    EXPECT_EQ(AttributesOf(*sim, "Mouse").VendorID, 0x046D);
    EXPECT_EQ(AttributesOf(*sim, "Mouse").ProductID, 49271);
    EXPECT_EQ(Open(*sim, "Keyboard"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FirmwareOf(*sim, "Tablet"), "R999 test");
    EXPECT_EQ(SerialOf(*sim, "Mouse"), "M-77 a");
    EXPECT_EQ(SerialOf(*sim, "Keyboard"), "-") << "none given: the device has none";
    const auto& eeprom = sim->Eeprom("Tablet");
    EXPECT_EQ((std::vector<int>{eeprom[0], eeprom[1], eeprom[2], eeprom[255]}),
              (std::vector<int>{85, 0, 0xFF, 7})) << "a missing key keeps the erased value";

    const HANDLE tablet = Open(*sim, "Tablet");
    const DWORD start = sim->Now();
    RequestString(*sim, tablet, TabletProtocol::kBeginAccessString);
    std::vector<bool> writes;
    for (BYTE address = 0; address < 4; ++address)
        writes.push_back(WriteByte(*sim, tablet, address, 1) != FALSE);
    EXPECT_EQ(writes, (std::vector<bool>{true, true, false, true})) << "FailWriteAt=0x3";
    EXPECT_EQ(sim->Now() - start, 5u * 5u) << "LatencyMs=5";

    // The sixth transfer (the identity string was the first) asked for an
    // orderly removal, refused even with no handle open.
    EXPECT_EQ(sim->Trace().back().call, "QueryRemove");
    sim->CloseHandle(tablet);
    sim->PumpMessages();
    EXPECT_TRUE(sim->IsPlugged("Tablet"));
    EXPECT_EQ(sim->Trace().back().call + " " + sim->Trace().back().arguments, "RemoveVetoed scripted");
}

TEST(Scenario, AnEmptyDeviceListIsABusWithNothingPluggedIn)
{
    TempFolder folder;
    const std::string ini = folder.Write("empty.ini", "[Bus]\r\nDevices=\r\nClock=virtual\r\n");
    std::string error;
    const auto sim = SimHidSystem::FromScenario(ini, &error);
    ASSERT_TRUE(sim) << error;
    const HDEVINFO set = sim->SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(Paths(*sim, set).empty());
}

TEST(Scenario, BadFilesNameFileSectionAndKey)
{
    struct Row {
        const char* ini;        // null: no file at all
        const char* eeprom;     // contents of image.tqc, or null
        const char* mentions[2]; // besides the file's name
    };
    const Row rows[] = {
        /* 0 */ {nullptr, nullptr, {"not found", nullptr}},
        /* 1 */ {"[Bus]\r\nDevcies=Pen\r\n[Pen]\r\n", nullptr, {"[Bus] Devices", "missing"}},
        /* 2 */ {"[Other]\r\nA=1\r\n", nullptr, {"[Bus] Devices", nullptr}},
        /* 3 */ {"[Bus]\r\nDevices=Pen\r\n", nullptr, {"[Bus] Devices", "[Pen]"}},
        /* 4 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nKind=mouse\r\n", nullptr, {"[Pen] Kind", "mouse"}},
        /* 5 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nFailReadAt=abc\r\n", nullptr, {"[Pen] FailReadAt", "abc"}},
        /* 6 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nVendorID=0x1G\r\n", nullptr, {"[Pen] VendorID", nullptr}},
        /* 7 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nProductID=65536\r\n", nullptr, {"[Pen] ProductID", nullptr}},
        /* 8 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nStuckAddress=256\r\n", nullptr, {"[Pen] StuckAddress", nullptr}},
        /* 9 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nLatencyMs=-5\r\n", nullptr, {"[Pen] LatencyMs", nullptr}},
        /* 10 */ {"[Bus]\r\nDevices=Pen\r\nClock=sometimes\r\n[Pen]\r\n", nullptr, {"[Bus] Clock", nullptr}},
        /* 11 */ {"[Bus]\r\nDevices=Pen,,Pad\r\n[Pen]\r\n[Pad]\r\n", nullptr, {"[Bus] Devices", nullptr}},
        /* 12 */ {"[Bus]\r\nDevices=Pen,pen\r\n[Pen]\r\n", nullptr, {"[Bus] Devices", "twice"}},
        /* 13 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nEepromFile=none.tqc\r\n", nullptr, {"[Pen] EepromFile", "none.tqc"}},
        /* 14 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nEepromFile=image.tqc\r\n", "[EEPROM DATA]\r\nValue010=300\r\n",
                  {"[EEPROM DATA] Value010", "[Pen] EepromFile"}},
        /* 15 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nFeatureReportByteLength=2\r\n", nullptr,
                  {"[Pen] FeatureReportByteLength", nullptr}},
        /* 16 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nExclusive=yes\r\n", nullptr, {"[Pen] Exclusive", nullptr}},
        /* 17 */ {"[Bus]\r\nDevices=Pen\r\n[Pen]\r\nSerialNumber=0123456789012345678901234567890123456789"
                  "01234567890123456789012345678901234567890123456789012345678901234567890123456789012345678\r\n",
                  nullptr, {"[Pen] SerialNumber", "126"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        TempFolder folder;
        if (rows[i].eeprom != nullptr)
            folder.Write("image.tqc", rows[i].eeprom);
        const std::string ini = rows[i].ini != nullptr ? folder.Write("bad.ini", rows[i].ini)
                                                       : folder.File("bad.ini");
        std::string error;
        EXPECT_EQ(SimHidSystem::FromScenario(ini, &error), nullptr) << "row " << i;
        EXPECT_NE(error.find("bad.ini"), std::string::npos) << "row " << i << ": " << error;
        for (const char* mention : rows[i].mentions)
            if (mention != nullptr) {
                EXPECT_NE(error.find(mention), std::string::npos)
                    << "row " << i << ": \"" << error << "\" lacks \"" << mention << "\"";
            }
    }
}

TEST(Scenario, EnvironmentChoosesTheDemoBus)
{
    TempFolder folder;
    const std::string tracePath = folder.File("trace.txt");
    {
        EnvironmentVariable scenario("TABLETSIM_SCENARIO", nullptr);
        EnvironmentVariable trace("TABLETSIM_TRACE", tracePath.c_str());
        std::string error;
        const auto sim = SimHidSystem::FromEnvironment(&error);
        ASSERT_TRUE(sim) << error;
        EXPECT_EQ(sim->ClockKind(), SimClockKind::Real);
        EXPECT_TRUE(sim->IsPlugged("Tablet"));
        EXPECT_EQ(FirmwareOf(*sim, "Tablet").substr(0, 4), "R514");
        EXPECT_EQ(AttributesOf(*sim, "Tablet").ProductID, TabletProtocol::kProductId);
        const std::string text = TempFolder::Read(tracePath);
        EXPECT_NE(text.find(" Tablet GetIndexedString 98 -> 1\n"), std::string::npos) << text;
    }
    {
        const std::string ini = folder.Write("env.ini", "[Bus]\r\nDevices=Pad\r\nClock=virtual\r\n[Pad]\r\n");
        EnvironmentVariable scenario("TABLETSIM_SCENARIO", ini.c_str());
        EnvironmentVariable trace("TABLETSIM_TRACE", nullptr);
        std::string error;
        const auto sim = SimHidSystem::FromEnvironment(&error);
        ASSERT_TRUE(sim) << error;
        EXPECT_EQ(sim->ClockKind(), SimClockKind::Virtual);
        EXPECT_TRUE(sim->IsPlugged("Pad"));
        EXPECT_FALSE(sim->IsPlugged("Tablet"));
    }
    {
        EnvironmentVariable scenario("TABLETSIM_SCENARIO", folder.File("missing.ini").c_str());
        std::string error;
        EXPECT_EQ(SimHidSystem::FromEnvironment(&error), nullptr);
        EXPECT_NE(error.find("missing.ini"), std::string::npos) << error;
    }
}

} // namespace
