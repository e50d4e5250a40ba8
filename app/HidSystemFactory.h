#pragma once
// Chooses the device side at link time: the product links the Win32 factory,
// the demo executable the simulated one. Returns null and sets `error` when no
// system can be made.

#include "HidSystem.h"

#include <memory>
#include <string>

std::unique_ptr<HidSystem> CreateHidSystem(std::string* error);
