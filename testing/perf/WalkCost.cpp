// The pass over one simulated computer with 1,000, 10,000 and 100,000
// ProfileList entries in three mixes. For each: the time per entry of the
// whole pass and of the command's own share (the pass minus the time inside
// platform calls), the heap allocations the command made outside platform
// calls (must be none), and afterwards the platform calls per entry by kind.
// The figures per entry are those of the fastest pass of a benchmark, the
// one least disturbed by other work on the machine. The cold-caches runs
// repeat the smallest size with 4 MiB of other memory read after every
// platform call.
//
//   wrenfold_walk_cost [Google Benchmark options, e.g. --benchmark_filter=young]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "LargeComputer.h"

namespace wf::perf {
namespace {

constexpr uint32_t kSizes[] = {1000, 10000, 100000};
constexpr size_t kEvictBytes = size_t{4} << 20;

// The last pass of each benchmark, for the table of calls.
std::map<std::pair<Mix, uint32_t>, WalkFigures> gFigures;
bool gFailed = false;

int64_t IterationsFor(Mix mix, uint32_t entries) {
  if (entries <= 1000) return 10;
  if (entries <= 10000) return mix == Mix::Old ? 1 : 3;
  return 1;
}

void MeasureWalkCost(benchmark::State& state, Mix mix, uint32_t entries, size_t evictBytes) {
  using std::chrono::nanoseconds;
  nanoseconds fastest = nanoseconds::max();
  nanoseconds fastestEngine = nanoseconds::max();
  uint64_t allocations = 0;
  WalkFigures figures;
  for (auto _ : state) {
    figures = MeasureWalk(mix, entries, evictBytes);
    state.SetIterationTime(std::chrono::duration<double>(figures.total).count());
    fastest = std::min(fastest, figures.total);
    fastestEngine = std::min(fastestEngine, figures.Engine());
    allocations += figures.engineAllocations;
  }
  uint64_t calls = 0;
  for (const uint64_t count : figures.calls) calls += count;
  state.counters["ns/entry"] = static_cast<double>(fastest.count()) / entries;
  state.counters["engine_ns/entry"] = static_cast<double>(fastestEngine.count()) / entries;
  state.counters["engine_allocs"] = static_cast<double>(allocations);
  state.counters["calls/entry"] = static_cast<double>(calls) / entries;
  if (evictBytes == 0) gFigures[{mix, entries}] = figures;

  const size_t expectedKeys = mix == Mix::Young          ? entries
                              : mix == Mix::HalfOrphaned ? entries - entries / 2
                                                         : 0;
  std::string problem;
  if (allocations != 0) problem = "the engine allocated on the heap";
  if (!figures.countMismatch.empty()) {
    problem = "calls counted apart from the simulation: " + figures.countMismatch;
  }
  if (figures.profileKeysLeft != expectedKeys) problem = "the pass left the wrong entries";
  if (!problem.empty()) {
    gFailed = true;
    state.SkipWithError(problem.c_str());
  }
}

void PrintCallTable() {
  std::printf("\nPlatform calls per entry (calls of the whole pass / entries)\n");
  for (const Mix mix : kMixes) {
    std::printf("\n%-26s", MixName(mix));
    for (const uint32_t entries : kSizes) {
      if (gFigures.count({mix, entries}) != 0) std::printf("%10u", entries);
    }
    std::printf("\n");
    for (size_t kind = 0; kind < kPlatformCallCount; ++kind) {
      bool made = false;
      for (const auto& [key, figures] : gFigures) made = made || figures.calls[kind] != 0;
      if (!made) continue;
      std::printf("  %-24s", PlatformCallName(static_cast<PlatformCall>(kind)));
      for (const uint32_t entries : kSizes) {
        auto found = gFigures.find({mix, entries});
        if (found != gFigures.end()) {
          std::printf("%10.3f", found->second.PerEntry(static_cast<PlatformCall>(kind)));
        }
      }
      std::printf("\n");
    }
  }
}

}  // namespace
}  // namespace wf::perf

int main(int argc, char** argv) {
  using namespace wf::perf;
  for (const Mix mix : kMixes) {
    for (const uint32_t entries : kSizes) {
      const std::string name = std::string("walk/") + MixName(mix) + "/" + std::to_string(entries);
      benchmark::RegisterBenchmark(name.c_str(), MeasureWalkCost, mix, entries, size_t{0})
          ->UseManualTime()
          ->Iterations(IterationsFor(mix, entries))
          ->Unit(benchmark::kMillisecond);
    }
  }
  // The command's share on a small computer with the caches emptied by each
  // platform call: the command's cost when the caches do not help it.
  for (const Mix mix : kMixes) {
    const std::string name = std::string("walk/") + MixName(mix) + "/1000/cold-caches";
    benchmark::RegisterBenchmark(name.c_str(), MeasureWalkCost, mix, 1000u, kEvictBytes)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  std::printf("The meter's own cost, taken off the engine's share: %.1f ns per platform call.\n",
              MeterCost());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!gFigures.empty()) PrintCallTable();
  return gFailed ? 1 : 0;
}
