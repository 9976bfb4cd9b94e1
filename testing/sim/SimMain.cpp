// Process entry of the native wrenfold: the command over the simulated
// Windows computers.
#include "cli/RunControl.h"
#include "sim/SimProcess.h"

int main(int argc, char** argv) {
  return wf::sim::RunSimulatedProcess(
      argc, argv, [](wf::Platform& platform, int count, const char16_t* const* arguments) {
        return wf::WrenfoldMain(platform, count, arguments);
      });
}
