// Every platform operation by id and by name, in the order of the list
// (platform/PlatformOperations.h): what the test platforms count calls by,
// hook them by and name them by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "platform/Platform.h"

namespace wf {

#define WF_PLATFORM_CALL_ID(RESULT, NAME, PARAMETERS, ARGUMENTS) NAME,
enum class PlatformCall : uint8_t {
  WF_PLATFORM_OPERATIONS(WF_PLATFORM_CALL_ID, WF_PLATFORM_CALL_ID)
};
#undef WF_PLATFORM_CALL_ID

#define WF_PLATFORM_CALL_NAME(RESULT, NAME, PARAMETERS, ARGUMENTS) #NAME,
inline constexpr const char* kPlatformCallNames[] = {
    WF_PLATFORM_OPERATIONS(WF_PLATFORM_CALL_NAME, WF_PLATFORM_CALL_NAME)};
#undef WF_PLATFORM_CALL_NAME

inline constexpr size_t kPlatformCallCount = std::size(kPlatformCallNames);

// The operation's name as the list writes it, e.g. "RegOpenKeyEx".
constexpr const char* PlatformCallName(PlatformCall call) {
  return kPlatformCallNames[static_cast<size_t>(call)];
}

}  // namespace wf
