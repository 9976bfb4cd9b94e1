// A forwarding Platform that counts every call by kind and measures the time
// spent inside the platform underneath. While a call is in progress it marks
// the platform as busy, so that the allocations made there are not charged
// to the command; the bodies and filters that the fault guards run are the
// command's own code again and are measured as such.
#pragma once

#include <array>
#include <cstdint>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <chrono>
#endif

#include "ForwardingPlatform.h"

namespace wf::perf {

// The meter's clock: the processor's time-stamp counter where there is one
// (a read costs a few dozen cycles, against a hundred nanoseconds and more
// for the system clock on a virtual machine), else the steady clock. Its
// unit is converted to time over a whole measured pass.
inline uint64_t MeterTicks() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

class MeteredPlatform;

// One platform call of a MeteredPlatform, counted, timed and marked from
// start to end, also when a fault leaves it.
class InPlatform {
 public:
  // platform is the MeteredPlatform the call is made on.
  InPlatform(ForwardingPlatform<InPlatform>& platform, PlatformCall call);
  ~InPlatform();
  InPlatform(const InPlatform&) = delete;
  InPlatform& operator=(const InPlatform&) = delete;

 private:
  MeteredPlatform& meter_;
};

class MeteredPlatform final : public ForwardingPlatform<InPlatform> {
 public:
  explicit MeteredPlatform(Platform& inner) : ForwardingPlatform(inner) {}

  uint64_t Count(PlatformCall call) const { return counts_[static_cast<size_t>(call)]; }
  uint64_t TotalCalls() const;
  // Time spent inside the platform in MeterTicks, guard bookkeeping
  // included and the guarded bodies excluded.
  uint64_t PlatformTicks() const { return platformTicks_; }

  // Makes every call end by reading this many bytes of other memory (inside
  // the platform's time), as a platform working over large data does: what
  // the command's code then costs when the caches hold none of its own.
  void EvictAfterEachCall(size_t bytes) { eviction_.assign(bytes, 1); }

  // The guard calls hand the command's bodies and filters to the platform
  // underneath wrapped, so that they are measured as the command's code.
  bool RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                  void* filterContext) override;
  void RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                      void* closingContext) override;

 private:
  friend class InPlatform;
  class InCommand;
  struct GuardedBody;
  struct GuardedFilter;

  // Entering and leaving the platform: the busy mark and the clock.
  void Enter();
  void Leave();

  std::array<uint64_t, kPlatformCallCount> counts_{};
  void Evict();

  std::vector<uint8_t> eviction_;
  uint64_t evictionSum_ = 0;
  uint64_t platformTicks_ = 0;
  uint64_t enteredAt_ = 0;
};

inline InPlatform::InPlatform(ForwardingPlatform<InPlatform>& platform, PlatformCall call)
    : meter_(static_cast<MeteredPlatform&>(platform)) {
  ++meter_.counts_[static_cast<size_t>(call)];
  meter_.Enter();
}

inline InPlatform::~InPlatform() {
  meter_.Leave();
}

}  // namespace wf::perf
