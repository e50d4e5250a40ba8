// The shipped executables as Windows' loader will see them: what they import
// before any of their code runs, and the protections their headers ask for.

#include "PeImage.h"
#include "WindowsPath.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

// Windows 10's KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session
// Manager\KnownDLLs, less the WOW64 and emulation entries that no program
// imports): the loader takes these from the system's own section objects,
// never from the program's folder.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll",  "combase.dll", "comdlg32.dll", "coml2.dll",    "difxapi.dll",  "gdi32.dll",
    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",    "msvcrt.dll",   "normaliz.dll",
    "nsi.dll",      "ole32.dll",    "oleaut32.dll", "psapi.dll",   "rpcrt4.dll",   "sechost.dll",  "setupapi.dll",
    "shcore.dll",   "shell32.dll",  "shlwapi.dll", "user32.dll",   "wldap32.dll",  "ws2_32.dll",
};
// Not a KnownDLL, but the manifest's dependency on Common Controls 6 binds
// it to the side-by-side copy in WinSxS, not to a file beside the program.
const char kSideBySide[] = "comctl32.dll";

struct Shipped {
    const char* what;
    std::string path;
};

// This build's executables, and the other architecture's product when it
// was built beside this one (a host that cannot start 32-bit programs runs
// the x64 suites only, and they read the x86 product too).
std::vector<Shipped> ShippedExecutables()
{
    std::vector<Shipped> shipped = {
        {"TabletUpdate.exe", TABLETUPDATE_EXE},
        {"TabletUpdateSim.exe", TABLETUPDATESIM_EXE},
    };
    const std::string other = OTHER_ARCH_TABLETUPDATE_EXE;
    if (PeImage(WindowsPath(other)).Error().empty())
        shipped.push_back({"the other architecture's TabletUpdate.exe", other});
    else
        std::printf("[          ] not built, so not read: %s\n", other.c_str());
    return shipped;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

TEST(ShippedImage, ImportsOnlyKnownDllsAndTheSideBySideCommonControls)
{
    for (const Shipped& exe : ShippedExecutables()) {
        SCOPED_TRACE(exe.what);
        const PeImage image(WindowsPath(exe.path));
        ASSERT_EQ("", image.Error());
        std::string list;
        for (const std::string& name : image.Imports()) {
            list += " " + name;
            const std::string dll = Lower(name);
            EXPECT_TRUE(kKnownDlls.count(dll) == 1 || dll == kSideBySide)
                << name << " is not a KnownDLL: Windows would look for it beside the program first";
        }
        std::printf("[          ] %s imports%s\n", exe.what, list.c_str());
        EXPECT_FALSE(image.Imports().empty());
    }
}

TEST(ShippedImage, HeadersAskForEveryProtectionAndCarryNoSymbols)
{
    for (const Shipped& exe : ShippedExecutables()) {
        SCOPED_TRACE(exe.what);
        const PeImage image(WindowsPath(exe.path));
        ASSERT_EQ("", image.Error());
        const uint16_t flags = image.DllCharacteristics();
        EXPECT_NE(0, flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "ASLR";
        EXPECT_NE(0, flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "DEP";
        if (image.Is64Bit()) {
            EXPECT_NE(0, flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << "64-bit ASLR";
        }
        // Without base relocations the loader cannot move the image,
        // whatever DYNAMIC_BASE says.
        EXPECT_GT(image.RelocationSize(), 0u) << "no base relocations";
        bool longNames = false;
        for (const PeImage::Section& section : image.Sections()) {
            const bool writable = (section.characteristics & IMAGE_SCN_MEM_WRITE) != 0;
            const bool executable = (section.characteristics & IMAGE_SCN_MEM_EXECUTE) != 0;
            EXPECT_FALSE(writable && executable) << "section " << section.name << " is writable and executable";
            EXPECT_NE(0u, section.name.rfind(".debug", 0)) << "debug section " << section.name << " shipped";
            longNames = longNames || section.name.size() > 8;
        }
        EXPECT_EQ(0u, image.NumberOfSymbols()) << "a symbol table shipped";
        // The COFF string table stays where a section's name is longer than
        // a header holds (x86's .eh_frame, the debug link): it holds those
        // names, and no symbols.
        if (!longNames) {
            EXPECT_EQ(0u, image.PointerToSymbolTable()) << "a symbol table shipped";
        }
    }
}
