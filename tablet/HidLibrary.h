#pragma once
// hid.dll, looked up at run time in the system directory alone.
//
// hid.dll is not one of Windows' KnownDLLs. In the import table it would be
// looked for in the program's own folder before the system's, and a hid.dll
// beside the downloaded program would run before any of the program's code
// ("Dynamic-link library security"). So nothing of it is imported.

#include "SystemFunctionTable.h"
#include "WinHid.h"

// Every hid.dll function the program calls, one line each.
#define TABLETUPDATE_HID_FUNCTIONS(X) \
    X(HidD_GetHidGuid)                \
    X(HidD_GetPreparsedData)          \
    X(HidD_FreePreparsedData)         \
    X(HidD_GetAttributes)             \
    X(HidP_GetCaps)                   \
    X(HidD_SetFeature)                \
    X(HidD_GetFeature)                \
    X(HidD_GetIndexedString)          \
    X(HidD_GetSerialNumberString)

struct HidFunctions {
    static constexpr const wchar_t* kFile = L"hid.dll";
    static constexpr const char* kWhat = "HID library";
    TABLETUPDATE_FUNCTION_MEMBERS(TABLETUPDATE_HID_FUNCTIONS)
};

using HidLibrary = SystemFunctionTable<HidFunctions>;
