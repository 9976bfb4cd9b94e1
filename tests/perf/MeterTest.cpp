// The meter behind the benchmarks: allocations are charged to the side that
// makes them, and the pass over a staged computer makes none of its own, with
// the same platform calls for every further entry.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "AllocationMeter.h"
#include "LargeComputer.h"
#include "MeteredPlatform.h"
#include "platform/Guards.h"

namespace wf::perf {
namespace {

// Storing into a volatile pointer keeps the compiler from leaving out an
// allocation whose block is never used.
int* volatile gKept = nullptr;

void AllocateOnce() {
  gKept = new int(7);
  delete gKept;
}

TEST(Meter, ChargesAllocationsToTheSideThatMakesThem) {
  sim::SimPlatform simulation;
  simulation.Local().CreateKey(u"SOFTWARE\\Bench");
  MeteredPlatform metered(simulation);

  StartCountingAllocations();
  RegKey key = kNoKey;
  // The simulation keeps its handles in a map: its allocation is its own.
  ASSERT_EQ(metered.RegOpenKeyEx(kHKeyLocalMachine, u"SOFTWARE\\Bench", 0, kKeyRead, &key), 0);
  EXPECT_EQ(CountedAllocations(), 0u);
  AllocateOnce();
  EXPECT_EQ(CountedAllocations(), 1u);
  // Guarded bodies and closing steps are the caller's code again.
  RunWithClosing(
      metered, [] { AllocateOnce(); }, [] { AllocateOnce(); });
  EXPECT_EQ(CountedAllocations(), 3u);
  EXPECT_FALSE(InsidePlatform());
  metered.RegCloseKey(key);
  StopCountingAllocations();
  AllocateOnce();
  EXPECT_EQ(CountedAllocations(), 3u);

  EXPECT_EQ(metered.Count(PlatformCall::RegOpenKeyEx), 1u);
  EXPECT_EQ(metered.Count(PlatformCall::RunWithClosing), 1u);
  EXPECT_EQ(metered.Count(PlatformCall::RegCloseKey), 1u);
  EXPECT_EQ(metered.TotalCalls(), 3u);
}

TEST(Meter, AFaultThroughAGuardLeavesTheMeterOutsideThePlatform) {
  sim::SimPlatform simulation;
  MeteredPlatform metered(simulation);

  StartCountingAllocations();
  const bool completed = RunGuarded(
      metered, [&] { metered.RaiseFault(kExceptionAccessViolation); },
      [](const FaultInfo& fault) {
        // The filter runs while the platform raises: it is the caller's code.
        AllocateOnce();
        return fault.code == kExceptionAccessViolation ? kExceptionExecuteHandler
                                                       : kExceptionContinueSearch;
      });
  EXPECT_FALSE(completed);
  EXPECT_FALSE(InsidePlatform());
  AllocateOnce();
  StopCountingAllocations();
  EXPECT_EQ(CountedAllocations(), 2u);
  EXPECT_EQ(metered.Count(PlatformCall::RunGuarded), 1u);
  EXPECT_EQ(metered.Count(PlatformCall::RaiseFault), 1u);
}

class MeteredWalk : public testing::TestWithParam<Mix> {};

}  // namespace

// The mix by name in test listings.
void PrintTo(Mix mix, std::ostream* out) {
  *out << MixName(mix);
}

namespace {

TEST_P(MeteredWalk, NoEngineHeapAndTheSameCallsForEveryFurtherEntry) {
  const Mix mix = GetParam();
  const WalkFigures small = MeasureWalk(mix, 24);
  const WalkFigures middle = MeasureWalk(mix, 48);
  const WalkFigures large = MeasureWalk(mix, 72);

  for (const WalkFigures* figures : {&small, &middle, &large}) {
    SCOPED_TRACE(figures->entries);
    EXPECT_EQ(figures->engineAllocations, 0u);
    EXPECT_EQ(figures->countMismatch, "");
    EXPECT_EQ(figures->result, 0);
    const size_t kept = mix == Mix::Young ? figures->entries
                        : mix == Mix::Old ? 0
                                          : figures->entries / 2;
    EXPECT_EQ(figures->profileKeysLeft, kept);
    EXPECT_EQ(figures->profileFoldersLeft, kept);
  }
  // Output goes out in blocks, so its writes need not grow evenly.
  for (size_t kind = 0; kind < kPlatformCallCount; ++kind) {
    if (static_cast<PlatformCall>(kind) == PlatformCall::WriteStandardOutput) continue;
    SCOPED_TRACE(PlatformCallName(static_cast<PlatformCall>(kind)));
    EXPECT_EQ(large.calls[kind] - middle.calls[kind], middle.calls[kind] - small.calls[kind]);
  }
}

INSTANTIATE_TEST_SUITE_P(Mixes, MeteredWalk, testing::ValuesIn(kMixes),
                         [](const testing::TestParamInfo<Mix>& param) {
                           std::string name = MixName(param.param);
                           std::erase(name, '-');
                           return name;
                         });

}  // namespace
}  // namespace wf::perf
