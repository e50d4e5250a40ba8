#pragma once
// setupapi.dll, looked up at run time in the system directory alone.
//
// setupapi.dll is a KnownDLL, but the DLLs it imports (cfgmgr32.dll among
// them) are searched by their names alone when it is loaded from the import
// table, which reaches the program's own folder first. So nothing of it is
// imported either.

#include "SystemFunctionTable.h"
#include "WinHid.h"

// Every setupapi.dll function the program calls, one line each.
#define TABLETUPDATE_SETUPAPI_FUNCTIONS(X) \
    X(SetupDiGetClassDevsA)                \
    X(SetupDiEnumDeviceInterfaces)         \
    X(SetupDiGetDeviceInterfaceDetailA)    \
    X(SetupDiDestroyDeviceInfoList)

struct SetupFunctions {
    static constexpr const wchar_t* kFile = L"setupapi.dll";
    static constexpr const char* kWhat = "device setup library";
    TABLETUPDATE_FUNCTION_MEMBERS(TABLETUPDATE_SETUPAPI_FUNCTIONS)
};

using SetupLibrary = SystemFunctionTable<SetupFunctions>;
