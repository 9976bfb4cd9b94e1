// A platform that forwards every operation to an inner platform: the base of
// the test platforms that watch or measure the calls a command makes and
// change only some of them.
#pragma once

#include <cstdlib>

#include "PlatformCalls.h"
#include "platform/Platform.h"

namespace wf {

// What is kept around a forwarded call by default: nothing.
struct NoCallScope {
  NoCallScope(Platform& /*platform*/, PlatformCall /*call*/) {}
};

// One forwarded operation, for the class below. One that never returns has
// no result to pass back, and ends in an abort after the scope: the inner
// call does not return either, but the compiler cannot tell once the scope
// has to be ended on the way out.
#define WF_FORWARD_PLATFORM_CALL(RESULT, NAME, PARAMETERS, ARGUMENTS) \
  RESULT NAME PARAMETERS override {                                   \
    [[maybe_unused]] const Scope scope(*this, PlatformCall::NAME);    \
    return inner_.NAME ARGUMENTS;                                     \
  }
#define WF_FORWARD_PLATFORM_CALL_NORETURN(RESULT, NAME, PARAMETERS, ARGUMENTS) \
  [[noreturn]] RESULT NAME PARAMETERS override {                               \
    {                                                                          \
      [[maybe_unused]] const Scope scope(*this, PlatformCall::NAME);           \
      inner_.NAME ARGUMENTS;                                                   \
    }                                                                          \
    std::abort();                                                              \
  }

// Each operation is forwarded as it is, arguments, result and last-error
// untouched. Around each forwarded call a Scope is made from this platform
// and the call's id before the inner platform is called, and ended when the
// call returns or a fault leaves it. A derived platform overrides what it
// changes and reaches the inner platform through Inner().
template <typename Scope = NoCallScope>
class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

  WF_PLATFORM_OPERATIONS(WF_FORWARD_PLATFORM_CALL, WF_FORWARD_PLATFORM_CALL_NORETURN)

 protected:
  Platform& Inner() { return inner_; }

 private:
  Platform& inner_;
};

#undef WF_FORWARD_PLATFORM_CALL_NORETURN
#undef WF_FORWARD_PLATFORM_CALL

}  // namespace wf
