#include "HidSystemFactory.h"

#include "HidLibrary.h"
#include "SetupLibrary.h"
#include "Win32HidSystem.h"

std::unique_ptr<HidSystem> CreateHidSystem(std::string* error)
{
    // Before any device is touched: a system without a usable hid.dll and
    // setupapi.dll in its own folder gets the program's box and nothing else.
    std::unique_ptr<HidLibrary> hid = HidLibrary::Load(error);
    if (!hid)
        return nullptr;
    std::unique_ptr<SetupLibrary> setup = SetupLibrary::Load(error);
    if (!setup)
        return nullptr;
    return std::make_unique<Win32HidSystem>(std::move(hid), std::move(setup));
}

void PrepareDialog(CUpdateDlg& /*dlg*/) {}
