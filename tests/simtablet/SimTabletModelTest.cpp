// The tablet model against the wire format, and the class driver's checks in front of it.

#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

using namespace simtest;

namespace {

class TabletModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddDevice(SimDeviceConfig());
        device = Open(sim, "Tablet");
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
    }

    SimHidSystem sim;
    HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(TabletModel, WritesAsTheyTravelAndWhereTheyLand)
{
    struct Row {
        BYTE address, value;
        const char* line;
    };
    const Row rows[] = {
        /* 0 */ {0, 0x55, "0 Tablet SetFeature 04 08 55 5D 00 00 00 00 -> 1"},
        /* 1 */ {247, 0x12, "0 Tablet SetFeature 04 FF 12 ED 00 00 00 00 -> 1"},
        /* 2 */ {248, 0xAA, "0 Tablet SetFeature 04 00 AA AA 00 00 00 00 -> 1"},
        /* 3 */ {255, 0x00, "0 Tablet SetFeature 04 07 00 07 00 00 00 00 -> 1"},
        /* 4 */ {100, 0x3C, "0 Tablet SetFeature 04 6C 3C 50 00 00 00 00 -> 1"},
    };
    ASSERT_TRUE(RequestString(sim, device, TabletProtocol::kBeginAccessString));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto before = sim.Eeprom("Tablet");
        sim.ClearTrace();
        EXPECT_TRUE(WriteByte(sim, device, rows[i].address, rows[i].value)) << "row " << i;
        ASSERT_EQ(TraceLines(sim), std::vector<std::string>{rows[i].line}) << "row " << i;
        for (unsigned a = 0; a < 256; ++a)
            ASSERT_EQ(sim.Eeprom("Tablet")[a], a == rows[i].address ? rows[i].value : before[a])
                << "row " << i << ", byte " << a;
    }

    // A wrong check byte is refused and stores nothing.
    BYTE report[8];
    TabletProtocol::BuildWriteReport(report, sizeof(report), 10, 0x42);
    report[TabletProtocol::kWriteCheckIndex] ^= 0x01;
    EXPECT_FALSE(sim.HidD_SetFeature(device, report, sizeof(report)));
    EXPECT_EQ(sim.Eeprom("Tablet")[10], 0xFF);
}

TEST_F(TabletModel, ReadAddressIsRequestedLengthMinusEight)
{
    for (unsigned a = 0; a < 256; ++a)
        sim.SetEepromByte("Tablet", a, static_cast<BYTE>(a * 7 + 3));
    for (unsigned a = 0; a < 256; ++a) {
        BOOLEAN ok = FALSE;
        ASSERT_EQ(ReadByte(sim, device, static_cast<BYTE>(a), &ok), static_cast<BYTE>(a * 7 + 3)) << a;
        ASSERT_TRUE(ok) << "address " << a;
    }
    // One past the last address: the device stalls, byte 0 keeps the report id.
    BYTE buffer[300] = {TabletProtocol::kReportId};
    EXPECT_FALSE(sim.HidD_GetFeature(device, buffer, TabletProtocol::kMaxReadLength + 1));
    EXPECT_EQ(buffer[0], TabletProtocol::kReportId);
}

TEST_F(TabletModel, WritesNeedAnOpenAccess)
{
    struct Row {
        const char* step;
        ULONG request; // string index sent before the write; 0 = none
        bool replugFirst;
        bool writeSticks;
    };
    const Row rows[] = {
        {"no access yet", 0, false, false},
        {"after begin", TabletProtocol::kBeginAccessString, false, true},
        {"after end", TabletProtocol::kEndAccessString, false, false},
        {"after begin again", TabletProtocol::kBeginAccessString, false, true},
        {"after unplug and replug", 0, true, false},
    };
    BYTE value = 0x10;
    for (const Row& row : rows) {
        if (row.replugFirst) {
            sim.Unplug("Tablet");
            sim.Plug("Tablet");
            device = Open(sim, "Tablet");
        }
        if (row.request != 0) {
            ASSERT_TRUE(RequestString(sim, device, row.request)) << row.step;
        }
        ++value;
        EXPECT_EQ(WriteByte(sim, device, 3, value) != FALSE, row.writeSticks) << row.step;
        EXPECT_EQ(sim.Eeprom("Tablet")[3] == value, row.writeSticks) << row.step;
        EXPECT_EQ(sim.AccessOpen("Tablet"), row.writeSticks) << row.step;
    }
}

TEST_F(TabletModel, StringsAndTooSmallBuffers)
{
    const std::wstring firmware = L"R514 V2.03 2009/11/27";
    const ULONG exact = static_cast<ULONG>((firmware.size() + 1) * sizeof(WCHAR));
    WCHAR text[64];
    ASSERT_TRUE(sim.HidD_GetIndexedString(device, TabletProtocol::kFirmwareString, text, exact));
    EXPECT_EQ(std::wstring(text), firmware);

    // One byte short of the terminator: refused, and not one byte written.
    std::memset(text, 0xCC, sizeof(text));
    EXPECT_FALSE(sim.HidD_GetIndexedString(device, TabletProtocol::kFirmwareString, text, exact - 1));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    for (std::size_t i = 0; i < sizeof(text); ++i)
        ASSERT_EQ(reinterpret_cast<const BYTE*>(text)[i], 0xCC) << "byte " << i;

    // A refused begin-access request opens nothing; unknown indices fail.
    EXPECT_FALSE(sim.HidD_GetIndexedString(device, TabletProtocol::kBeginAccessString, text, 4));
    EXPECT_FALSE(sim.AccessOpen("Tablet"));
    EXPECT_FALSE(sim.HidD_GetIndexedString(device, 99, text, sizeof(text)));
}

// The serial number string: none on a tablet not given one; otherwise the
// same all-or-nothing copy, and no buffer beyond the class driver's limit.
TEST_F(TabletModel, TheSerialNumberString)
{
    WCHAR text[8];
    EXPECT_FALSE(sim.HidD_GetSerialNumberString(device, text, sizeof(text)));

    SimHidSystem bus;
    SimDeviceConfig config;
    config.serialNumber = "SN-7";
    bus.AddDevice(config);
    const HANDLE tablet = Open(bus, "Tablet");
    const ULONG exact = 5 * sizeof(WCHAR);
    std::memset(text, 0xCC, sizeof(text));
    EXPECT_FALSE(bus.HidD_GetSerialNumberString(tablet, text, exact - 1));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_EQ(reinterpret_cast<const BYTE*>(text)[0], 0xCC) << "nothing written";
    ASSERT_TRUE(bus.HidD_GetSerialNumberString(tablet, text, exact));
    EXPECT_EQ(std::wstring(text), L"SN-7");
    std::vector<BYTE> large(4094);
    EXPECT_FALSE(bus.HidD_GetSerialNumberString(tablet, large.data(), 4094)) << "over 4093 bytes";
    EXPECT_TRUE(bus.HidD_GetSerialNumberString(tablet, large.data(), 4093));
    EXPECT_EQ(bus.Trace().back().call + " " + bus.Trace().back().arguments, "GetSerialNumberString len=4093");
}

// The class driver's checks, made before the device sees the request.
TEST(ClassDriver, RequestChecks)
{
    enum Op { Set, Get, String };
    struct Row {
        SimDeviceKind kind;
        USHORT featureLength;
        Op op;
        ULONG length;
        BYTE reportId; // for String: the string index
        DWORD error;   // ERROR_SUCCESS = the call succeeds
    };
    const auto Tablet = SimDeviceKind::Tablet;
    const auto Generic = SimDeviceKind::Generic;
    const Row rows[] = {
        /* 0 */ {Tablet, 8, Set, 0, 4, ERROR_INVALID_USER_BUFFER},
        /* 1 */ {Tablet, 8, Get, 0, 4, ERROR_INVALID_USER_BUFFER},
        /* 2 */ {Tablet, 8, Set, 7, 4, ERROR_INVALID_PARAMETER},
        /* 3 */ {Tablet, 8, Get, 7, 4, ERROR_INVALID_PARAMETER},
        /* 4 */ {Tablet, 8, Set, 8, 3, ERROR_INVALID_PARAMETER},
        /* 5 */ {Tablet, 8, Get, 8, 0, ERROR_INVALID_PARAMETER},
        /* 6 */ {Tablet, 8, Set, 64, 4, ERROR_SUCCESS},
        /* 7 */ {Tablet, 8, Get, 263, 4, ERROR_SUCCESS},
        /* 8 */ {Tablet, 16, Get, 8, 4, ERROR_INVALID_PARAMETER},
        /* 9 */ {Tablet, 16, Get, 16, 4, ERROR_SUCCESS},
        /* 10 */ {Generic, 8, Set, 8, 4, ERROR_INVALID_PARAMETER},
        /* 11 */ {Generic, 8, Get, 8, 4, ERROR_INVALID_PARAMETER},
        /* 12 */ {Generic, 8, String, 256, 98, ERROR_GEN_FAILURE},
        /* 13 */ {Generic, 8, String, 256, 20, ERROR_GEN_FAILURE},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SimHidSystem sim;
        SimDeviceConfig config = Config("Tablet", row.kind);
        config.featureReportByteLength = row.featureLength;
        sim.AddDevice(config);
        const HANDLE device = Open(sim, "Tablet");
        RequestString(sim, device, TabletProtocol::kBeginAccessString);

        BYTE buffer[300] = {};
        TabletProtocol::BuildWriteReport(buffer, 8, 5, 0x77);
        buffer[0] = row.reportId;
        const BOOLEAN ok = row.op == Set   ? sim.HidD_SetFeature(device, buffer, row.length)
                           : row.op == Get ? sim.HidD_GetFeature(device, buffer, row.length)
                                           : sim.HidD_GetIndexedString(device, row.reportId, buffer, row.length);
        EXPECT_EQ(ok != FALSE, row.error == ERROR_SUCCESS) << "row " << i;
        if (row.error != ERROR_SUCCESS) {
            EXPECT_EQ(::GetLastError(), row.error) << "row " << i;
        }
        if (row.kind == Generic) {
            EXPECT_FALSE(sim.AccessOpen("Tablet")) << "row " << i << ": a generic device has no access";
        }
    }
}

} // namespace
