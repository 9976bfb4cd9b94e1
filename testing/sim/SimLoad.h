// Scenario files (docs/SCENARIOS.md) into a simulation, and the
// state file that the simulation leaves after a run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimPlatform.h"

namespace wf::sim {

// Stages a scenario into a freshly made platform. The runner has checked the
// scenario against its schema (the one validator of the format) and
// expanded its shorthand; what cannot be read here all the same is reported
// with its place (never half-loaded silently). Returns an empty text on
// success.
std::string LoadScenario(std::string_view json, SimPlatform& platform);
std::string LoadScenarioFile(const std::string& path, SimPlatform& platform);

// The console events of one key name: "y", "Enter", "F1", "Shift+F6",
// "Ctrl+C". False when the name is not known.
bool KeyEvents(std::string_view name, std::vector<ConsoleInputEvent>* events);

// The state file: ProfileList subkeys and folders of every computer after
// the run, with the exit code and the bytes echoed on the console.
std::string StateText(const SimPlatform& platform, int32_t exitCode);
bool WriteStateFile(const std::string& path, const SimPlatform& platform, int32_t exitCode);

}  // namespace wf::sim
