// A whole computer built from the input and cleaned by the command: every
// deletion is judged as it is made, the report and counters after the run
// (see TargetCase).
#include <cstdint>
#include <string>

#include "FuzzChecks.h"
#include "TargetCase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string output;
  const wf::fuzz::Findings findings = wf::fuzz::RunTargetCase(bytes, size, nullptr, &output);
  wf::fuzz::ReportFindings(findings, output);
  return 0;
}
