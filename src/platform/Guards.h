// Lambda-friendly forms of the platform's fault guards.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace wf {

// Runs body under filter; returns true when body completed, false when the
// filter accepted a fault raised inside it.
template <typename Body, typename Filter>
bool RunGuarded(Platform& platform, Body&& body, Filter&& filter) {
  return platform.RunGuarded(
      [](void* context) { (*static_cast<std::remove_reference_t<Body>*>(context))(); }, &body,
      [](const FaultInfo& fault, void* context) -> int32_t {
        return (*static_cast<std::remove_reference_t<Filter>*>(context))(fault);
      },
      &filter);
}

// Runs body, then closing; closing also runs when a fault leaves body.
template <typename Body, typename Closing>
void RunWithClosing(Platform& platform, Body&& body, Closing&& closing) {
  platform.RunWithClosing(
      [](void* context) { (*static_cast<std::remove_reference_t<Body>*>(context))(); }, &body,
      [](void* context) { (*static_cast<std::remove_reference_t<Closing>*>(context))(); },
      &closing);
}

}  // namespace wf
