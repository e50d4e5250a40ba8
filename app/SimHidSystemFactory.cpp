#include "HidSystemFactory.h"

#include "SimHidSystem.h"
#include "UpdateDlg.h"

#include <cstdlib>

// The demo executable: the bus described by the scenario file that
// TABLETSIM_SCENARIO names (one healthy tablet without it), traced to the file
// that TABLETSIM_TRACE names.
std::unique_ptr<HidSystem> CreateHidSystem(std::string* error)
{
    return SimHidSystem::FromEnvironment(error);
}

void PrepareDialog(CUpdateDlg& dlg)
{
    char text[16] = {};
    const DWORD length = ::GetEnvironmentVariableA("TABLETSIM_WRITE_DELAY_MS", text, sizeof(text));
    if (length == 0 || length >= sizeof(text))
        return;
    const long delay = std::strtol(text, nullptr, 10);
    if (delay >= CUpdateDlg::kMinWriteDelayMs && delay <= CUpdateDlg::kMaxWriteDelayMs)
        dlg.m_nWriteDelay = static_cast<int>(delay);
}
