// The meter behind the benchmarks, and what it shows: the pass over a staged
// computer makes no heap allocation of its own, with the same platform calls
// for every further entry.
#include <gtest/gtest.h>

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

// The command's code that the platform's guards run (bodies, closing steps,
// filters, also after a fault) is charged to the command: charged to the
// platform, it would hide the pass's allocations. That the platform's own
// are not charged, the pass below shows.
TEST(Meter, ChargesGuardedCodeToTheCommand) {
  sim::SimPlatform simulation;
  MeteredPlatform metered(simulation);
  StartCountingAllocations();
  RunWithClosing(
      metered, [] { AllocateOnce(); }, [] { AllocateOnce(); });
  RunGuarded(
      metered, [&] { metered.RaiseFault(kExceptionAccessViolation); },
      [](const FaultInfo&) {
        AllocateOnce();
        return kExceptionExecuteHandler;
      });
  AllocateOnce();
  StopCountingAllocations();
  EXPECT_EQ(CountedAllocations(), 4u);
}

class MeteredWalk : public testing::TestWithParam<Mix> {};

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
