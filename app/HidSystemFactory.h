#pragma once
// Chooses the device side at link time: the product links the Win32 factory,
// the demo executable the simulated one. Returns null and sets `error` when no
// system can be made.

#include "HidSystem.h"

#include <memory>
#include <string>

std::unique_ptr<HidSystem> CreateHidSystem(std::string* error);

class CUpdateDlg;

// Last changes to the dialog before it runs. The product makes none; the demo
// executable takes the write delay from TABLETSIM_WRITE_DELAY_MS (1..20), so
// that the benchmark can time the update at other delays.
void PrepareDialog(CUpdateDlg& dlg);
