// Counts the heap allocations that the command's own code makes, apart from
// those made by the platform underneath it. The global operator new of the
// benchmark programs (AllocationMeter.cpp) asks here whether to count: only while
// counting is on and no platform call is in progress.
#pragma once

#include <cstdint>

namespace wf::perf {

// Turns counting on (from zero) or off; the count stays readable.
void StartCountingAllocations();
void StopCountingAllocations();
uint64_t CountedAllocations();

// Set by MeteredPlatform while the simulation works, so its own
// allocations are not charged to the command.
void SetInsidePlatform(bool inside);
bool InsidePlatform();

}  // namespace wf::perf
