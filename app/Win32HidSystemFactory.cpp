#include "HidSystemFactory.h"

#include "HidLibrary.h"
#include "Win32HidSystem.h"

std::unique_ptr<HidSystem> CreateHidSystem(std::string* error)
{
    // Before any device is touched: a system without a usable hid.dll in
    // its own folder gets the program's box and nothing else.
    std::unique_ptr<HidLibrary> hid = HidLibrary::Load(error);
    if (!hid)
        return nullptr;
    return std::make_unique<Win32HidSystem>(std::move(hid));
}

void PrepareDialog(CUpdateDlg& /*dlg*/) {}
