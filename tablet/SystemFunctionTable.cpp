#include "SystemFunctionTable.h"

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

} // namespace

std::string SystemFunctionText::CannotLoad(const char* what, const wchar_t* fileName, DWORD error)
{
    return std::string("Windows' ") + what + " (" + Narrow(fileName) +
           ") could not be loaded from the system folder (error " + std::to_string(error) + ").\n" + kCannotReach;
}

std::string SystemFunctionText::Lacks(const char* what, const wchar_t* fileName, const char* function)
{
    return std::string("Windows' ") + what + " (" + Narrow(fileName) + ") in the system folder lacks " + function +
           ".\n" + kCannotReach;
}
