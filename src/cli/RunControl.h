// The command's entry point, independent of the platform it runs on.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"
#include "platform/Platform.h"

namespace wf {

// The per-computer pass: a computer name without leading backslashes, or
// null for the local computer. Returns 0 or a system error number.
using TargetRunner = int32_t (*)(Platform& platform, const RunSettings& settings,
                                 const char16_t* computerName);

// Reads the arguments (argv[0] is the command as typed), runs the command
// and returns the process exit code. Standard output is flushed on every
// way out. The runner is the per-computer pass; tests may substitute it.
int32_t WrenfoldMain(Platform& platform, int argc, const char16_t* const* argv,
                     TargetRunner runner = nullptr);

}  // namespace wf
