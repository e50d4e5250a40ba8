// Finding and opening devices: the setup API's enumeration, CreateFileA on
// device paths, preparsed data and capabilities, and refusal of bad values.

#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <iterator>

using namespace simtest;

namespace {

HDEVINFO PresentHid(SimHidSystem& sim)
{
    return sim.SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

TEST(WindowsLayout, StructureSizesPerArchitecture)
{
#ifdef _WIN64
    EXPECT_EQ(sizeof(DEV_BROADCAST_HANDLE), 56u);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 8u);
#else
    EXPECT_EQ(sizeof(DEV_BROADCAST_HANDLE), 44u);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 5u);
#endif
    EXPECT_EQ(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), 32u);
    EXPECT_EQ(sizeof(DEV_BROADCAST_HDR), 12u);
    EXPECT_EQ(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath), 4u);

    SimHidSystem sim;
    GUID guid{};
    sim.HidD_GetHidGuid(&guid);
    EXPECT_TRUE(::IsEqualGUID(guid, kHidGuid));
}

TEST(Discovery, SnapshotOfPresentDevicesInBusOrder)
{
    SimHidSystem sim;
    sim.AddDevice(Config("Mouse", SimDeviceKind::Generic));
    sim.AddDevice(Config("Tablet"));
    sim.AddDevice(Config("Second"));
    SimDeviceConfig late = Config("Late");
    late.plugInAfterMs = 100;
    sim.AddDevice(late);
    const std::vector<std::string> all = {sim.DevicePath("Mouse"), sim.DevicePath("Tablet"),
                                          sim.DevicePath("Second")};
    EXPECT_NE(all[1], all[2]) << "two tablets of one model need distinct paths";

    const HDEVINFO before = PresentHid(sim);
    sim.Unplug("Tablet");
    const HDEVINFO after = PresentHid(sim);
    // Without DIGCF_PRESENT a set names what was present once, never what has not arrived yet.
    const HDEVINFO ever = sim.SetupDiGetClassDevsA(&kHidGuid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(sim, before), all) << "taken before the unplug";
    EXPECT_EQ(Paths(sim, after), (std::vector<std::string>{all[0], all[2]}));
    EXPECT_EQ(Paths(sim, ever), all);

    SP_DEVICE_INTERFACE_DATA data{};

    data.cbSize = sizeof(data);
    EXPECT_FALSE(sim.SetupDiEnumDeviceInterfaces(after, nullptr, &kHidGuid, 2, &data));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    data.cbSize = sizeof(data) + 4;
    EXPECT_FALSE(sim.SetupDiEnumDeviceInterfaces(after, nullptr, &kHidGuid, 0, &data));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    for (const HDEVINFO set : {before, after, ever})
        EXPECT_TRUE(sim.SetupDiDestroyDeviceInfoList(set));
}

TEST(Discovery, DetailSizeChecks)
{
    SimHidSystem sim;
    sim.AddDevice(Config("Tablet"));
    const std::string path = sim.DevicePath("Tablet");
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                            path.size() + 1);
    const HDEVINFO set = PresentHid(sim);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    ASSERT_TRUE(sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kHidGuid, 0, &data));

    const DWORD fixed = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    struct Row {
        DWORD cbSize;     // 0 = pass no buffer
        DWORD bufferSize; // what the caller says it has
        DWORD error;      // ERROR_SUCCESS = the call succeeds
    };
    const Row rows[] = {
        /* 0 */ {0, 0, ERROR_INSUFFICIENT_BUFFER},
        /* 1 */ {fixed, needed - 1, ERROR_INSUFFICIENT_BUFFER},
        /* 2 */ {needed, needed, ERROR_INVALID_USER_BUFFER}, // the buffer's size is not cbSize
        /* 3 */ {fixed - 1, needed, ERROR_INVALID_USER_BUFFER},
        /* 4 */ {fixed, needed, ERROR_SUCCESS},
        /* 5 */ {fixed, needed + 50, ERROR_SUCCESS},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        std::vector<BYTE> buffer(needed + 64, 0xCC);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = rows[i].cbSize;
        DWORD required = 0;
        const BOOL ok = sim.SetupDiGetDeviceInterfaceDetailA(
            set, &data, rows[i].cbSize != 0 ? detail : nullptr, rows[i].bufferSize, &required, nullptr);
        EXPECT_EQ(ok != FALSE, rows[i].error == ERROR_SUCCESS) << "row " << i;
        if (rows[i].error == ERROR_SUCCESS) {
            EXPECT_EQ(std::string(detail->DevicePath), path) << "row " << i;
        } else {
            EXPECT_EQ(::GetLastError(), rows[i].error) << "row " << i;
        }
        if (rows[i].error != ERROR_INVALID_USER_BUFFER) {
            EXPECT_EQ(required, needed) << "row " << i;
        }
    }
}

TEST(Discovery, OpenRules)
{
    SimHidSystem sim;
    sim.AddDevice(Config("Tablet"));
    SimDeviceConfig held = Config("Held");
    held.exclusive = true;
    sim.AddDevice(held);
    sim.AddDevice(Config("Gone"));
    sim.Unplug("Gone");
    std::string upper = sim.DevicePath("Tablet");
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    struct Row {
        std::string path;
        DWORD share;
        DWORD error; // ERROR_SUCCESS = opens
    };
    const Row rows[] = {
        /* 0 */ {sim.DevicePath("Tablet"), kShareReadWrite, ERROR_SUCCESS},
        /* 1 */ {upper, kShareReadWrite, ERROR_SUCCESS},
        /* 2 */ {sim.DevicePath("Held"), kShareReadWrite, ERROR_SHARING_VIOLATION},
        /* 3 */ {sim.DevicePath("Gone"), kShareReadWrite, ERROR_FILE_NOT_FOUND},
        /* 4 */ {"\\\\?\\hid#vid_0000&pid_0000#none", kShareReadWrite, ERROR_FILE_NOT_FOUND},
        /* 5 */ {sim.DevicePath("Tablet"), 0, ERROR_SHARING_VIOLATION}, // will not share with 0 and 1
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const HANDLE handle = sim.CreateFileA(rows[i].path.c_str(), kReadWrite, rows[i].share, nullptr,
                                              OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(handle != INVALID_HANDLE_VALUE, rows[i].error == ERROR_SUCCESS) << "row " << i;
        if (rows[i].error != ERROR_SUCCESS) {
            EXPECT_EQ(::GetLastError(), rows[i].error) << "row " << i;
        }
    }
    EXPECT_EQ(sim.OpenHandleCount("Tablet"), 2u);
}

TEST(Discovery, AttributesAndCapsUntilUnplugAndRelease)
{
    SimHidSystem sim;
    SimDeviceConfig other = Config("Other");
    other.productId = 0x0051;
    other.featureReportByteLength = 12;
    sim.AddDevice(other);
    SimDeviceConfig mouse = Config("Mouse", SimDeviceKind::Generic);
    mouse.vendorId = 0x046D;
    mouse.productId = 0xC077;
    mouse.usage = 2;
    sim.AddDevice(mouse);

    struct Row {
        const char* name;
        USHORT vendor, product, usage, featureLength;
    };
    for (const Row& row : {Row{"Other", 0x6A3D, 0x0051, 0, 12}, Row{"Mouse", 0x046D, 0xC077, 2, 8}}) {
        const HANDLE device = Open(sim, row.name);
        HIDD_ATTRIBUTES attributes{};
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps{};
        ASSERT_TRUE(sim.HidD_GetAttributes(device, &attributes)) << row.name;
        ASSERT_TRUE(sim.HidD_GetPreparsedData(device, &preparsed)) << row.name;
        ASSERT_EQ(sim.HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS) << row.name;
        EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES)) << row.name;
        EXPECT_EQ(attributes.VendorID, row.vendor) << row.name;
        EXPECT_EQ(attributes.ProductID, row.product) << row.name;
        EXPECT_EQ(caps.UsagePage, 1) << row.name;
        EXPECT_EQ(caps.Usage, row.usage) << row.name;
        EXPECT_EQ(caps.FeatureReportByteLength, row.featureLength) << row.name;

        // Preparsed data is memory: it outlives the device, not its release.
        sim.Unplug(row.name);
        EXPECT_EQ(sim.HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS) << row.name;
        EXPECT_TRUE(sim.HidD_FreePreparsedData(preparsed)) << row.name;
        EXPECT_EQ(sim.HidP_GetCaps(preparsed, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA) << row.name;
        EXPECT_FALSE(sim.HidD_GetPreparsedData(device, &preparsed)) << row.name;
        EXPECT_FALSE(sim.HidD_GetAttributes(device, &attributes)) << row.name;
        EXPECT_TRUE(sim.CloseHandle(device)) << row.name;
    }
}

// No value the caller passes may crash the simulator: unknown, freed or
// mixed-up values are refused with ERROR_INVALID_HANDLE, and not traced.
TEST(Discovery, BadValuesAreRefused)
{
    SimHidSystem sim;
    sim.AddDevice(Config("Tablet"));
    const HANDLE closed = Open(sim, "Tablet");
    sim.CloseHandle(closed);
    const HDEVINFO destroyed = PresentHid(sim);
    sim.SetupDiDestroyDeviceInfoList(destroyed);
    PHIDP_PREPARSED_DATA preparsed = nullptr, freed = nullptr;
    sim.HidD_GetPreparsedData(Open(sim, "Tablet"), &preparsed);
    sim.HidD_GetPreparsedData(Open(sim, "Tablet"), &freed);
    sim.HidD_FreePreparsedData(freed);
    const std::size_t traced = sim.Trace().size();

    const HANDLE bad[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1234), closed,
                          destroyed, freed, preparsed};
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        const HANDLE h = bad[i];
        BYTE buffer[300] = {4};
        HIDD_ATTRIBUTES attributes{};
        PHIDP_PREPARSED_DATA data = nullptr;
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        const auto refused = [&](bool result, const char* call) {
            EXPECT_FALSE(result) << call << ", value " << i;
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << call << ", value " << i;
        };
        refused(sim.HidD_SetFeature(h, buffer, 8), "HidD_SetFeature");
        refused(sim.HidD_GetFeature(h, buffer, 8), "HidD_GetFeature");
        refused(sim.HidD_GetIndexedString(h, 98, buffer, sizeof(buffer)), "HidD_GetIndexedString");
        refused(sim.HidD_GetAttributes(h, &attributes), "HidD_GetAttributes");
        refused(sim.HidD_GetPreparsedData(h, &data), "HidD_GetPreparsedData");
        refused(sim.CloseHandle(h), "CloseHandle");
        refused(sim.SetupDiEnumDeviceInterfaces(h, nullptr, &kHidGuid, 0, &interfaceData), "SetupDiEnum");
        refused(sim.SetupDiDestroyDeviceInfoList(h), "SetupDiDestroyDeviceInfoList");
        refused(sim.UnregisterDeviceNotification(h), "UnregisterDeviceNotification");
        if (h != preparsed) {
            HIDP_CAPS caps{};
            refused(sim.HidD_FreePreparsedData(static_cast<PHIDP_PREPARSED_DATA>(h)), "FreePreparsed");
            EXPECT_EQ(sim.HidP_GetCaps(static_cast<PHIDP_PREPARSED_DATA>(h), &caps),
                      HIDP_STATUS_INVALID_PREPARSED_DATA) << "value " << i;
        }
    }
    EXPECT_EQ(sim.Trace().size(), traced);
}

} // namespace
