// A copy of the shipped program in a folder that also holds DLLs named after
// the ones it loads, as a Downloads folder may: none of them may run, and
// the update must still work.
//
// Windows takes a DLL that is not a KnownDLL from the program's folder first.
// Wine does the same for a DLL it is told to load native first
// (WINEDLLOVERRIDES), which is how these planted copies get their chance
// here; the program's own search rules must still keep them out.
//
// What this cannot see: it runs the one-shot update alone (not the service
// mode's dialogs), on Wine's builtin DLLs, whose imports are not Windows'.
// The chains that exist on Windows only are invisible here: setupapi.dll's
// cfgmgr32.dll, and the provider CryptoAPI loads for the stack protector's
// seed before the program's code (rsaenh.dll, a bare name in the registry on
// Windows; Wine's advapi32 loads it by its full path, so a copy planted
// here would prove nothing, and the program never names it). The import
// table and the TLS callback that keep those out are checked on the files
// themselves (ShippedImage).

#include "TempFolder.h"
#include "UiDriver.h"
#include "VirtualTabletSession.h"
#include "WindowsPath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Every DLL the program loads under Wine (WINEDEBUG=+loaddll, one update)
// that is not a KnownDLL or a part of one (kernelbase, win32u): hid.dll, the
// side-by-side comctl32, what the system DLLs load in turn, and Wine's own
// (winex11.drv, zlib1.dll).
// NOT planted, as no program can keep them out under Wine: compstui.dll and
// winspool.drv. Wine's own comdlg32 (a KnownDLL the program imports) imports
// winspool.drv, which imports compstui.dll, and Wine resolves those imports
// along the program's folder before the program's first instruction runs.
// On Windows too, a KnownDLL's dependency that is not one itself is searched
// for by its bare name ("Dynamic-link library search order"), which is why
// setupapi.dll (for its cfgmgr32.dll) is loaded at run time instead.
const char* const kPlanted[] = {
    "hid.dll",     "comctl32.dll", "uxtheme.dll", "msimg32.dll",
    "version.dll", "ucrtbase.dll", "winex11.drv", "zlib1.dll",
};

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string NativeFirst()
{
    std::string names;
    for (const char* planted : kPlanted) {
        // Wine names a .dll without its extension, any other with it.
        std::string name = planted;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0)
            name.erase(name.size() - 4);
        names += (names.empty() ? "" : ",") + name;
    }
    const char* inherited = std::getenv("WINEDLLOVERRIDES");
    return (inherited != nullptr && *inherited != '\0' ? std::string(inherited) + ";" : std::string()) + names + "=n,b";
}

} // namespace

TEST(PlantedDll, NoneBesideTheProgramRunsAndTheUpdateStillWorks)
{
    TempFolder folder;
    const std::string exe = folder.File("TabletUpdate.exe");
    ASSERT_TRUE(::CopyFileA(WindowsPath(TABLETUPDATE_EXE).c_str(), exe.c_str(), FALSE));
    for (const char* name : kPlanted)
        ASSERT_TRUE(::CopyFileA(WindowsPath(PLANTED_DLL).c_str(), folder.File(name).c_str(), FALSE)) << name;

    // The planted DLL does leave its mark when it is loaded: an empty folder
    // below would prove nothing otherwise.
    {
        const std::string probe = folder.File("probe.dll");
        ASSERT_TRUE(::CopyFileA(WindowsPath(PLANTED_DLL).c_str(), probe.c_str(), FALSE));
        const HMODULE loaded = ::LoadLibraryA(probe.c_str());
        ASSERT_NE(nullptr, loaded);
        ::FreeLibrary(loaded);
        ASSERT_TRUE(Exists(probe + ".ran"));
    }

    VirtualTabletSession tablet;
    const TabletEeprom before = ErasedWithOwnTail();
    ASSERT_TRUE(tablet.Prepare(before));
    ASSERT_TRUE(tablet.PlugIn());
    UiRunOptions options;
    options.commandLine = "\"" + exe + "\"";
    options.environment = {{"WINEDLLOVERRIDES", NativeFirst()}};
    options.timeoutMs = 60000;
    const UiRunResult run = UiDriver(options).Run();

    for (const char* name : kPlanted)
        EXPECT_FALSE(Exists(folder.File(name) + ".ran")) << "the " << name << " beside the program ran";
    ASSERT_EQ(RunOutcome::Exited, run.outcome);
    ASSERT_EQ(1u, run.messageBoxes.size());
    EXPECT_EQ(MessageBoxIcon::Information, run.messageBoxes[0].icon) << run.messageBoxes[0].text;
    EXPECT_EQ(256u, Only(tablet.Trace(), "SetFeature").size());
    const TabletEeprom expected = ExpectedAfterUpdate(before);
    const TabletEeprom eeprom = tablet.Eeprom();
    for (unsigned address = 0; address < 256; ++address)
        ASSERT_EQ(expected[address], eeprom[address]) << "EEPROM byte " << address;
}
