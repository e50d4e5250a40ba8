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

// KnownDLLs on both Windows 7 and Windows 10 (the registry key
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs, less
// the WOW64 and emulation entries that no program imports; Windows 10 adds combase, coml2, gdiplus and
// shcore, which Windows 7, declared supported by the manifest, lacks): the
// loader takes these from the system's own section objects, never from the
// program's folder.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll",    "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll",   "msvcrt.dll",   "normaliz.dll", "nsi.dll",     "ole32.dll",    "oleaut32.dll",
    "psapi.dll",    "rpcrt4.dll",  "sechost.dll",  "setupapi.dll", "shell32.dll", "shlwapi.dll",  "user32.dll",
    "wldap32.dll",  "ws2_32.dll",
};
// Not a KnownDLL, but the manifest's dependency on Common Controls 6 binds
// it to the side-by-side copy in WinSxS, not to a file beside the program.
const char kSideBySide[] = "comctl32.dll";
// What the executables import, and nothing more. Being a KnownDLL is not
// enough: what a KnownDLL imports in turn is searched for by its name alone
// (setupapi's cfgmgr32), so every other system DLL is loaded at run time,
// from the system directory.
const std::set<std::string> kImports = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll",
};

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

TEST(ShippedImage, ImportsExactlyTheExpectedKnownDllsAndTheSideBySideCommonControls)
{
    for (const std::string& dll : kImports)
        EXPECT_TRUE(kKnownDlls.count(dll) == 1 || dll == kSideBySide) << dll << " is not a KnownDLL";
    for (const Shipped& exe : ShippedExecutables()) {
        SCOPED_TRACE(exe.what);
        const PeImage image(WindowsPath(exe.path));
        ASSERT_EQ("", image.Error());
        std::set<std::string> imports;
        std::string list;
        for (const std::string& name : image.Imports()) {
            list += " " + name;
            imports.insert(Lower(name));
        }
        std::printf("[          ] %s imports%s\n", exe.what, list.c_str());
        EXPECT_EQ(kImports, imports) << "a DLL in the import table is looked for, with its own imports, before "
                                        "any of the program's code can restrict the search";
    }
}

TEST(ShippedImage, RestrictsTheDllSearchBeforeTheRuntimeStarts)
{
    // The loader calls the TLS callbacks at process attach, before the C
    // runtime's entry point and its constructors; the program's own must be
    // the first. The stripped executable names no function: the debug
    // information kept beside it does (MinGW builds).
    for (const Shipped& exe : ShippedExecutables()) {
        SCOPED_TRACE(exe.what);
        const PeImage image(WindowsPath(exe.path));
        const PeImage debug(WindowsPath(exe.path + ".debug"));
        ASSERT_EQ("", image.Error());
        ASSERT_EQ("", debug.Error()) << "the debug information is read for the callback's name";
        ASSERT_NE(0u, image.TlsCallbackList()) << "no TLS callbacks";
        EXPECT_EQ(image.TlsCallbackList(), debug.SymbolAddress("tabletUpdateRestrictDllSearch"))
            << "the first TLS callback is not the one that restricts the DLL search";
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
