// The system's text of an error number, printed after a failure report.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace wf {

// Prints "\n\n" and the system's text of status (empty when there is none).
void PrintErrorText(Platform& platform, int32_t status);

}  // namespace wf
