// One simulated computer with many ProfileList entries, and one measured
// pass over it: the pass's time, the share of it spent outside the platform,
// the heap allocations made outside the platform, and the platform calls.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "MeteredPlatform.h"
#include "sim/SimPlatform.h"

namespace wf::perf {

enum class Mix {
  Young,         // every hive a day old with /MIN:30: nothing is deleted
  Old,           // every hive 400 days old with /y: every profile is deleted
  HalfOrphaned,  // every other folder missing (its entry is removed), the rest young
};
inline constexpr Mix kMixes[] = {Mix::Young, Mix::Old, Mix::HalfOrphaned};

const char* MixName(Mix mix);

// Stages the local computer: the ProfileList folders of a later system and
// `entries` profile entries of the mix, C:\Users\User<n> for entry n.
void StageComputer(sim::SimPlatform& platform, Mix mix, uint32_t entries);

struct WalkFigures {
  uint32_t entries = 0;
  std::chrono::nanoseconds total{};     // the whole pass
  std::chrono::nanoseconds platform{};  // inside platform calls
  uint64_t engineAllocations = 0;       // outside platform calls
  std::array<uint64_t, kPlatformCallCount> calls{};
  int32_t result = 0;
  size_t profileKeysLeft = 0;
  size_t profileFoldersLeft = 0;
  // Empty, or the calls whose count differs from the simulation's own.
  std::string countMismatch;

  // The meter's own time outside platform calls, estimated from MeterCost.
  std::chrono::nanoseconds meter{};

  // The command's own share: the pass outside platform calls, less the meter.
  std::chrono::nanoseconds Engine() const { return total - platform - meter; }
  double PerEntry(PlatformCall call) const {
    return static_cast<double>(calls[static_cast<size_t>(call)]) / entries;
  }
};

// What the meter adds outside the platform for each call that it measures,
// in nanoseconds: found once, as the time outside the platform per call of a
// loop that makes nothing but the cheapest call.
double MeterCost();

// Stages a computer of the mix and runs ProcessTarget over it once, with
// /MIN:30 /y, output captured in memory; evictBytes as
// MeteredPlatform::EvictAfterEachCall.
WalkFigures MeasureWalk(Mix mix, uint32_t entries, size_t evictBytes = 0);

}  // namespace wf::perf
