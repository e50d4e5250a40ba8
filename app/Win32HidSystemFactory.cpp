#include "HidSystemFactory.h"

#include "Win32HidSystem.h"

std::unique_ptr<HidSystem> CreateHidSystem(std::string* /*error*/)
{
    return std::make_unique<Win32HidSystem>();
}

void PrepareDialog(CUpdateDlg& /*dlg*/) {}
