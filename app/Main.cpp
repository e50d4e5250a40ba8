#include "Framework.h"
#include "SystemLibrary.h"

namespace {

// Whatever is loaded by bare name from here on (by us, or by system DLLs for
// the file dialogs, themes, input methods and CryptoAPI's providers) comes
// from the system directory, never from the folder the program was
// downloaded into. This runs as a TLS callback, at process attach, before
// the C runtime's entry point and every static constructor: the runtime's
// own constructors load DLLs too (the stack protector seeds its guard
// through CryptAcquireContext, which loads the cryptographic provider).
// Nothing in it needs the runtime, and it loads nothing itself, as code
// under the loader lock must ("Dynamic-Link Library Best Practices").
void NTAPI RestrictDllSearchAtAttach(PVOID /*module*/, DWORD reason, PVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH)
        SystemLibrary::RestrictSearchToSystemDirectory();
}

} // namespace

// The loader calls the callbacks listed between the C runtime's .CRT$XLA and
// .CRT$XLZ markers, in section order; .CRT$XLB puts this one first. The
// linkers pull in the runtime's TLS directory (_tls_used) only when asked.
#if defined(_MSC_VER)
#if defined(_M_IX86)
#pragma comment(linker, "/INCLUDE:__tls_used")
#pragma comment(linker, "/INCLUDE:_tabletUpdateRestrictDllSearch")
#else
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma comment(linker, "/INCLUDE:tabletUpdateRestrictDllSearch")
#endif
#pragma const_seg(".CRT$XLB")
extern "C" const PIMAGE_TLS_CALLBACK tabletUpdateRestrictDllSearch = RestrictDllSearchAtAttach;
#pragma const_seg()
#else
// MinGW-w64's runtime always links its TLS directory (tlssup.c); `used`
// keeps the entry that nothing references by name.
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK tabletUpdateRestrictDllSearch = RestrictDllSearchAtAttach;
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    return AfxWinMain(instance, previous, commandLine, showCommand);
}
