// Running a program over the simulated Windows computers as a whole
// process. WRENFOLD_SIMULATION names a scenario file to stage; without it
// the running computer is a bare PC01 (build 7601) whose registry has no
// ProfileList. WRENFOLD_SIMULATION_STATE names a file that receives the
// simulation's state after the run.
#include "sim/SimProcess.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/SimLoad.h"
#include "sim/SimPlatform.h"

namespace wf::sim {
namespace {

// Exit status when the scenario cannot be staged (sysexits' EX_CONFIG).
constexpr int kScenarioError = 78;

}  // namespace

int RunSimulatedProcess(int argc, char** argv, ProgramEntry entry) {
  SimPlatform platform;
  platform.UseProcessStandardOutput();

  const char* scenario = std::getenv("WRENFOLD_SIMULATION");
  if (scenario != nullptr && *scenario != 0) {
    const std::string problem = LoadScenarioFile(scenario, platform);
    if (!problem.empty()) {
      (void)std::fprintf(stderr, "wrenfold: scenario %s: %s\n", scenario, problem.c_str());
      return kScenarioError;
    }
  }

  std::vector<std::u16string> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(FromUtf8(argv[i]));
  std::vector<const char16_t*> argv16;
  argv16.reserve(arguments.size() + 1);
  for (const std::u16string& argument : arguments) argv16.push_back(argument.c_str());
  argv16.push_back(nullptr);

  int32_t exitCode = 0;
  try {
    exitCode = entry(platform, argc, argv16.data());
  } catch (const SimFault& fault) {
    // No guard took the fault: Windows would end the process with its code.
    (void)std::fprintf(stderr, "wrenfold: unhandled exception 0x%08X\n", fault.Code());
    exitCode = static_cast<int32_t>(fault.Code());
  }

  const char* statePath = std::getenv("WRENFOLD_SIMULATION_STATE");
  if (statePath != nullptr && *statePath != 0 && !WriteStateFile(statePath, platform, exitCode)) {
    (void)std::fprintf(stderr, "wrenfold: cannot write the state file %s\n", statePath);
  }
  return exitCode;
}

}  // namespace wf::sim
