#include "HidSystemFactory.h"

#include "SimHidSystem.h"

// The demo executable: the bus described by the scenario file that
// TABLETSIM_SCENARIO names (one healthy tablet without it), traced to the file
// that TABLETSIM_TRACE names.
std::unique_ptr<HidSystem> CreateHidSystem(std::string* error)
{
    return SimHidSystem::FromEnvironment(error);
}
