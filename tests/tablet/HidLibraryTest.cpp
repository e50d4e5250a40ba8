// hid.dll found at run time in the system directory, and the program's own
// words when it cannot be used.

#include "HidLibrary.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring FolderOf(HMODULE module)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L'\\'));
    return folder;
}

std::wstring SystemFolder()
{
    wchar_t path[MAX_PATH] = {};
    return std::wstring(path, ::GetSystemDirectoryW(path, MAX_PATH));
}

bool SameFolder(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

TEST(HidLibrary, LoadsFromTheSystemFolderEitherWay)
{
    // Wine and every supported Windows know the search flags; the full
    // path is what Windows 7 without KB2533623 gets.
    EXPECT_TRUE(SystemLibrary::SearchFlagsSupported());
    struct Row {
        const char* what;
        SystemLibrary (*load)(const wchar_t*);
    } const rows[] = {
        {"search flags where known", &SystemLibrary::Load},
        {"full path", &SystemLibrary::LoadByFullPath},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const SystemLibrary hid = r.load(L"hid.dll");
        ASSERT_TRUE(hid) << "error " << hid.Error();
        EXPECT_TRUE(SameFolder(SystemFolder(), FolderOf(hid.Get())));
        EXPECT_NE(nullptr, hid.Find("HidD_GetHidGuid"));
        EXPECT_EQ(nullptr, hid.Find("NoSuchFunction"));
    }
}

TEST(HidLibrary, FindsEveryFunctionOrSaysWhatIsMissing)
{
    struct Row {
        const char* what;
        const wchar_t* file;
        const char* error; // empty: loaded, every function found
    } const rows[] = {
        {"hid.dll", L"hid.dll", ""},
        {"a system DLL without them", L"user32.dll",
         "Windows' HID library (user32.dll) in the system folder lacks HidD_GetHidGuid.\n"
         "TabletUpdate cannot reach the tablet on this computer."},
        {"no such DLL in the system folder", L"tabletupdate-nothing.dll",
         "Windows' HID library (tabletupdate-nothing.dll) could not be loaded from the system folder (error 126).\n"
         "TabletUpdate cannot reach the tablet on this computer."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string error;
        const std::unique_ptr<HidLibrary> hid = HidLibrary::Load(r.file, &error);
        EXPECT_EQ(r.error, error);
        ASSERT_EQ(*r.error == '\0', hid != nullptr);
        if (!hid)
            continue;
#define TABLETUPDATE_EXPECT_FOUND(name) EXPECT_NE(nullptr, hid->name) << #name;
        TABLETUPDATE_HID_FUNCTIONS(TABLETUPDATE_EXPECT_FOUND)
#undef TABLETUPDATE_EXPECT_FOUND
    }
}
