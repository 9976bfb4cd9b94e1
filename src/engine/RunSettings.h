// The settings read from the command line; written only while the
// arguments are read, read-only afterwards.
#pragma once

#include <cstdint>

#include "platform/Text.h"

namespace wf {

inline constexpr int32_t kMinimumAgeNotGiven = 2147483647;

struct RunSettings {
  int32_t MinimumAge = kMinimumAgeNotGiven;  // days
  int32_t Confirm = 1;                       // ask before each deletion
  int32_t RoamingOnly = 0;
  int32_t Trace = 0;
  LongText SkipNames;  // colon-separated folder names
};

}  // namespace wf
