// The pass over one computer.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"
#include "engine/TargetContext.h"
#include "platform/Platform.h"

namespace wf {

// Cleans up one computer: computerName without leading backslashes, or null
// for the local computer. Returns 0 or a system error number. The summary
// of the computer is printed on every way out, faults included.
int32_t ProcessTarget(Platform& platform, const RunSettings& settings,
                      const char16_t* computerName);

// The summary block of one pass; the folder lines only in trace mode.
void PrintSummary(const RunSettings& settings, const TargetContext& context);

}  // namespace wf
