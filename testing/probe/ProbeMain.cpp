// Process entry of the probe: over the real Windows calls in the Windows
// build, over the simulated computers in the native build.
#include "Probe.h"

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"

int wmain(int argc, wchar_t** argv) {
  wf::Win32Platform platform;
  return wf::ProbeMain(platform, argc, reinterpret_cast<const char16_t* const*>(argv));
}
#else
#include "sim/SimProcess.h"

int main(int argc, char** argv) {
  return wf::sim::RunSimulatedProcess(argc, argv, wf::ProbeMain);
}
#endif
