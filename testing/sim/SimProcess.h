// A whole native process over the simulated Windows computers.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace wf::sim {

using ProgramEntry = int32_t (*)(Platform& platform, int argc, const char16_t* const* argv);

// Stages the simulation named by WRENFOLD_SIMULATION (without it: a bare
// PC01 of build 7601 whose registry has no ProfileList), runs entry with the
// arguments as UTF-16 and writes the state file named by
// WRENFOLD_SIMULATION_STATE. Returns the process exit status.
int RunSimulatedProcess(int argc, char** argv, ProgramEntry entry);

}  // namespace wf::sim
