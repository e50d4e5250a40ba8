#pragma once
// Functions of one of Windows' own DLLs, found at run time in the copy in the
// system directory and nowhere else.
//
// A DLL in the import table is looked for by its name alone, and so are the
// DLLs it imports in turn ("Dynamic-link library search order": dependent
// DLLs are searched "as if they were loaded by using only their module
// names"), which reaches the program's own folder first. Loaded here instead,
// the DLL comes from the system directory, and its own imports are searched
// from there too (see SystemLibrary).
//
// `Functions` lists the functions, one member each, from an X-macro list:
//
//     struct SomeFunctions {
//         static constexpr const wchar_t* kFile = L"some.dll";
//         static constexpr const char* kWhat = "some library"; // for the user
//         TABLETUPDATE_FUNCTION_MEMBERS(SOME_LIST)
//     };

#include "SystemLibrary.h"

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

// A member under the function's own name and type.
#define TABLETUPDATE_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
// One step of ForEach; the first function not found ends the walk.
#define TABLETUPDATE_FUNCTION_VISIT(name) visit(#name, name)&&
// The members for an X-macro list of functions, and a walk over them.
#define TABLETUPDATE_FUNCTION_MEMBERS(LIST)                           \
    LIST(TABLETUPDATE_FUNCTION_POINTER)                               \
    template <typename Visit>                                         \
    bool ForEach(Visit visit)                                         \
    {                                                                 \
        return LIST(TABLETUPDATE_FUNCTION_VISIT) true;                \
    }

// What the user reads when a table cannot be filled.
class SystemFunctionText {
public:
    static std::string CannotLoad(const char* what, const wchar_t* fileName, DWORD error);
    static std::string Lacks(const char* what, const wchar_t* fileName, const char* function);
};

template <typename Functions>
class SystemFunctionTable : public Functions {
public:
    // The DLL with every function found; null when the DLL or one of them is
    // missing, and `error` then says so in the program's own words.
    static std::unique_ptr<SystemFunctionTable> Load(std::string* error) { return Load(Functions::kFile, error); }
    // The same from another system DLL of that name (tests).
    static std::unique_ptr<SystemFunctionTable> Load(const wchar_t* fileName, std::string* error)
    {
        SystemLibrary module = SystemLibrary::Load(fileName);
        if (!module) {
            *error = SystemFunctionText::CannotLoad(Functions::kWhat, fileName, module.Error());
            return nullptr;
        }
        std::unique_ptr<SystemFunctionTable> table(new SystemFunctionTable(std::move(module)));
        const char* missing = nullptr;
        const bool found = table->ForEach([&](const char* name, auto& function) {
            // Through void*: a FARPROC converts to another function pointer
            // type only by a cast that the compilers rightly warn about.
            using Function = std::remove_reference_t<decltype(function)>;
            function = reinterpret_cast<Function>(reinterpret_cast<void*>(table->m_module.Find(name)));
            missing = name;
            return function != nullptr;
        });
        if (!found) {
            *error = SystemFunctionText::Lacks(Functions::kWhat, fileName, missing);
            return nullptr;
        }
        return table;
    }

private:
    explicit SystemFunctionTable(SystemLibrary module) : m_module(std::move(module)) {}

    // Held while the pointers are used.
    SystemLibrary m_module;
};
