#include "HidLibrary.h"

namespace {

const char kCannotReach[] = "TabletUpdate cannot reach the tablet on this computer.";

// DLL names are ASCII.
std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; *text != L'\0'; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

template <typename Function>
bool Resolve(const SystemLibrary& module, const char* name, Function& function)
{
    // Through void*: a FARPROC converts to another function pointer type
    // only by a cast that the compilers rightly warn about.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(module.Find(name)));
    return function != nullptr;
}

} // namespace

std::unique_ptr<HidLibrary> HidLibrary::Load(std::string* error)
{
    return Load(L"hid.dll", error);
}

std::unique_ptr<HidLibrary> HidLibrary::Load(const wchar_t* fileName, std::string* error)
{
    SystemLibrary module = SystemLibrary::Load(fileName);
    if (!module) {
        *error = "Windows' HID library (" + Narrow(fileName) + ") could not be loaded from the system folder (error " +
                 std::to_string(module.Error()) + ").\n" + kCannotReach;
        return nullptr;
    }
    std::unique_ptr<HidLibrary> library(new HidLibrary(std::move(module)));
#define TABLETUPDATE_HID_RESOLVE(name)                                                                      \
    if (!Resolve(library->m_module, #name, library->name)) {                                                \
        *error = "Windows' HID library (" + Narrow(fileName) + ") in the system folder lacks " #name ".\n" + \
                 kCannotReach;                                                                              \
        return nullptr;                                                                                     \
    }
    TABLETUPDATE_HID_FUNCTIONS(TABLETUPDATE_HID_RESOLVE)
#undef TABLETUPDATE_HID_RESOLVE
    return library;
}
