// The icon, version record and manifest that every executable carries.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "WinApp.h"
#include "WindowDpi.h"
#include "Version.h"
#include "resource.h"

namespace {

std::string ResourceBytes(LPCSTR name, LPCSTR type)
{
    HRSRC resource = ::FindResourceA(nullptr, name, type);
    if (resource == nullptr)
        return std::string();
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource)));
    return std::string(data, ::SizeofResource(nullptr, resource));
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(Resources, IconHasSmallAndLargeImages)
{
    const std::string group = ResourceBytes(MAKEINTRESOURCEA(IDI_APP_ICON), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_GE(group.size(), 6u) << "icon group " << IDI_APP_ICON << " is missing";
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, 2);
    ASSERT_EQ(group.size(), 6u + count * sizeof(GroupIconEntry));
    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
        sizes.insert(entry.width);
        EXPECT_EQ(entry.width, entry.height);
        EXPECT_EQ(entry.bitCount, 32);
    }
    EXPECT_TRUE(sizes.count(16)) << "no 16x16 image";
    EXPECT_TRUE(sizes.count(32)) << "no 32x32 image";

    // And Windows can make icons of both sizes from it.
    for (int size : { 16, 32 }) {
        HICON icon = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP_ICON),
                                                     IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr) << size;
        if (icon != nullptr)
            ::DestroyIcon(icon);
    }
    EXPECT_NE(AfxGetApp()->LoadIcon(IDI_APP_ICON), nullptr);
}

std::string VersionString(const std::vector<char>& block, const char* name)
{
    const std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), path.c_str(), &value, &length) || value == nullptr)
        return "<missing>";
    return std::string(static_cast<const char*>(value));
}

TEST(Resources, VersionRecord)
{
    char path[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u) << "no version record";
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, block.data()));

    struct Row {
        const char* name;
        const char* value;
    };
    const Row rows[] = {
        { "CompanyName", "TabletUpdate project" },
        { "ProductName", "TabletUpdate" },
        { "FileDescription", "Tablet EEPROM update" },
        { "FileVersion", TABLETUPDATE_VERSION_TEXT },
        { "ProductVersion", TABLETUPDATE_VERSION_TEXT },
        { "OriginalFilename", "TabletUpdate.exe" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(VersionString(block, row.name), row.value) << row.name;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(TABLETUPDATE_VERSION_MAJOR << 16 | TABLETUPDATE_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(TABLETUPDATE_VERSION_PATCH << 16));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(Resources, ManifestRunsAsInvoker)
{
    const std::string manifest = ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */);
    ASSERT_FALSE(manifest.empty()) << "no manifest with id 1";
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    // Windows 10/11 and 7, the two ends of what the program is built for.
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
    // The visual style and the progress bar come from Common Controls 6.
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    // Paths in any letters reach the *A functions whole (Windows 10 1903 and later).
    EXPECT_NE(manifest.find("<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8"
                            "</activeCodePage>"),
              std::string::npos);
}

// The DPI settings as Windows reads them from the process's activation
// context, each in its own namespace (a setting in the wrong one is not
// there at all). Wine 8.0 runs every process per-monitor aware whatever the
// manifest says, so only this shows that Windows will be told.
TEST(Resources, ManifestDeclaresPerMonitorDpiAwareness)
{
    using QueryFn = BOOL(WINAPI*)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T*);
    const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW")));
    ASSERT_NE(nullptr, query);
    const struct {
        const wchar_t* space;
        const wchar_t* name;
        const wchar_t* value;
    } rows[] = {
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
        // Windows 10 1607 knows no PerMonitorV2 and ignores dpiAware once
        // dpiAwareness is there: without the value after it, it would run
        // the program unaware and stretched.
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, PerMonitor"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.name);
        wchar_t value[64] = {};
        SIZE_T written = 0;
        ASSERT_TRUE(query(0, nullptr, row.space, row.name, value, 64, &written)) << ::GetLastError();
        EXPECT_EQ(std::wstring(row.value), std::wstring(value));
    }
}

// A title string (id 0xE000, in string block 0xE000 / 16 + 1) would caption
// the message boxes instead of the executable's name.
// What the manifest's fallback asks of the layout: under per-monitor v1
// (Windows 10 1607) the frame and the controls' own parts stay at the system
// DPI, so a window at twice that DPI is measured at the system's; under v2
// they grow with the window.
TEST(Resources, PerMonitorV1KeepsFramesAndControlPartsAtTheSystemDpi)
{
    using SetContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
    ASSERT_NE(nullptr, setContext) << "Windows 10 1607 and Wine have it";
    const UINT system = CWindowDpi::ForSystem();
    const UINT twice = 2 * system;
    const struct {
        DPI_AWARENESS_CONTEXT context;
        const char* what;
        UINT parts;
    } rows[] = {
        {DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE, "per-monitor v1", system},
        {DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, "per-monitor v2", twice},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const DPI_AWARENESS_CONTEXT previous = setContext(row.context);
        if (previous == nullptr) {
            // Wine 8.0 knows no per-monitor v2.
            std::printf("[          ] no %s here\n", row.what);
            continue;
        }
        const UINT parts = CWindowDpi::ForSystemParts(twice);
        const int scrollBar = CWindowDpi::SystemMetric(SM_CXVSCROLL, twice);
        RECT frame{0, 0, 100, 100};
        CWindowDpi::AdjustWindowRect(&frame, WS_CAPTION | WS_SYSMENU, 0, twice);
        RECT expectedFrame{0, 0, 100, 100};
        CWindowDpi::AdjustWindowRect(&expectedFrame, WS_CAPTION | WS_SYSMENU, 0, parts);
        setContext(previous);
        EXPECT_EQ(row.parts, parts);
        EXPECT_EQ(CWindowDpi::SystemMetric(SM_CXVSCROLL, parts), scrollBar);
        EXPECT_EQ(expectedFrame.bottom - expectedFrame.top, frame.bottom - frame.top);
    }
}

TEST(Resources, NoApplicationTitleString)
{
    EXPECT_EQ(::FindResourceA(nullptr, MAKEINTRESOURCEA(0xE000 / 16 + 1), MAKEINTRESOURCEA(6) /* RT_STRING */), nullptr);
}

} // namespace
