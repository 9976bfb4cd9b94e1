// The pass over one computer.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"
#include "platform/Platform.h"

namespace wf {

// Cleans up one computer: computerName without leading backslashes, or null
// for the local computer. Returns 0 or a system error number.
int32_t ProcessTarget(Platform& platform, const RunSettings& settings,
                      const char16_t* computerName);

}  // namespace wf
