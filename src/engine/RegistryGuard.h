// The guard around a registry call whose system function may be bound at
// its first call.
#pragma once

#include <cstdint>

#include "engine/DelayLoadFilter.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"

namespace wf {

enum class GuardMessageStyle { NewLine, NewBlock };

// Runs call (returning a status) under DelayLoadFailureFilter. When the
// filter accepts a fault, prints "Exception error occurred." (after one or
// two line feeds) and gives ERROR_CANTOPEN; *returned tells whether the call
// came back normally.
template <typename Call>
int32_t CallUnderDelayLoadGuard(Platform& platform, GuardMessageStyle style, Call&& call,
                                bool* returned = nullptr) {
  int32_t status = 0;
  if (returned != nullptr) *returned = false;
  if (!RunGuarded(
          platform,
          [&] {
            status = call();
            if (returned != nullptr) *returned = true;
          },
          [](const FaultInfo& fault) { return DelayLoadFailureFilter(fault); })) {
    if (style == GuardMessageStyle::NewBlock) {
      ConsolePrint(u"\n\nException error occurred.");
    } else {
      ConsolePrint(u"\nException error occurred.");
    }
    status = kErrorCantOpen;
  }
  return status;
}

}  // namespace wf
