#pragma once
// hid.dll, looked up at run time in the system directory alone.
//
// hid.dll is not one of Windows' KnownDLLs. In the import table it would be
// looked for in the program's own folder before the system's, and a hid.dll
// beside the downloaded program would run before any of the program's code
// ("Dynamic-link library security"). So nothing of it is imported; its
// functions are found here, from the copy in the system directory.

#include "SystemLibrary.h"
#include "WinHid.h"

#include <memory>
#include <string>
#include <utility>

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

class HidLibrary {
public:
    // hid.dll with every function found; null when the library or one of
    // them is missing, and `error` then says so in the program's own words.
    static std::unique_ptr<HidLibrary> Load(std::string* error);
    // The same from another system DLL of that name (tests).
    static std::unique_ptr<HidLibrary> Load(const wchar_t* fileName, std::string* error);

    // The functions, under their own names and types.
#define TABLETUPDATE_HID_POINTER(name) decltype(&::name) name = nullptr;
    TABLETUPDATE_HID_FUNCTIONS(TABLETUPDATE_HID_POINTER)
#undef TABLETUPDATE_HID_POINTER

private:
    explicit HidLibrary(SystemLibrary module) : m_module(std::move(module)) {}

    // Held while the pointers above are used.
    SystemLibrary m_module;
};
