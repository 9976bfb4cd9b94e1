// The filter of the guards around registry calls whose system function may
// be bound at its first call.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace wf {

// Prints the reason of a late-binding failure and answers
// kExceptionExecuteHandler for the two late-binding codes; every other fault
// is passed on (kExceptionContinueSearch) without output.
int32_t DelayLoadFailureFilter(const FaultInfo& fault);

}  // namespace wf
