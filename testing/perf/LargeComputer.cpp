#include "LargeComputer.h"

#include <string>

#include "AllocationMeter.h"
#include "engine/ProcessTarget.h"
#include "platform/ConsoleOutput.h"

namespace wf::perf {
namespace {

constexpr int32_t kMinimumAgeDays = 30;

std::u16string Decimal(uint32_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

const char* MixName(Mix mix) {
  switch (mix) {
    case Mix::Young:
      return "young";
    case Mix::Old:
      return "old";
    case Mix::HalfOrphaned:
      return "half-orphaned";
  }
  return "?";
}

void StageComputer(sim::SimPlatform& platform, Mix mix, uint32_t entries) {
  sim::SimComputer& computer = platform.Local();
  computer.SetUsualProfileList();
  computer.AddFolder(u"C:\\Users\\Public");
  computer.AddFolder(u"C:\\Users\\Default");

  const FileTime young = platform.Now() - 1 * sim::kTicksPerDay;
  const FileTime old = platform.Now() - 400 * sim::kTicksPerDay;
  for (uint32_t n = 0; n < entries; ++n) {
    const bool orphaned = mix == Mix::HalfOrphaned && n % 2 == 1;
    computer.AddProfile(u"S-1-5-21-1-1-1-" + Decimal(1000 + n), u"C:\\Users\\User" + Decimal(n),
                        orphaned          ? 0
                        : mix == Mix::Old ? old
                                          : young);
  }
}

double MeterCost() {
  // The least of several rounds: the one least disturbed by other work.
  static const double cost = [] {
    constexpr int kRounds = 9;
    constexpr int kCalls = 100'000;
    sim::SimPlatform simulation;
    double least = 0;
    for (int round = 0; round < kRounds; ++round) {
      MeteredPlatform metered(simulation);
      const auto start = std::chrono::steady_clock::now();
      const uint64_t startTicks = MeterTicks();
      for (int i = 0; i < kCalls; ++i) metered.GetLastError();
      const uint64_t ticks = MeterTicks() - startTicks;
      const std::chrono::duration<double, std::nano> spent =
          std::chrono::steady_clock::now() - start;
      if (ticks == 0) return 0.0;
      const double outside =
          1.0 - static_cast<double>(metered.PlatformTicks()) / static_cast<double>(ticks);
      const double perCall = outside * spent.count() / kCalls;
      if (round == 0 || perCall < least) least = perCall;
    }
    return least;
  }();
  return cost;
}

WalkFigures MeasureWalk(Mix mix, uint32_t entries, size_t evictBytes) {
  sim::SimPlatform simulation;
  StageComputer(simulation, mix, entries);
  MeteredPlatform metered(simulation);
  metered.EvictAfterEachCall(evictBytes);
  ConsoleAttach(metered);

  RunSettings settings;
  settings.MinimumAge = kMinimumAgeDays;
  settings.Confirm = 0;

  WalkFigures figures;
  figures.entries = entries;
  MeterCost();
  StartCountingAllocations();
  const auto start = std::chrono::steady_clock::now();
  const uint64_t startTicks = MeterTicks();
  figures.result = ProcessTarget(metered, settings, nullptr);
  ConsoleFlush();
  const uint64_t ticks = MeterTicks() - startTicks;
  figures.total = std::chrono::steady_clock::now() - start;
  StopCountingAllocations();
  figures.engineAllocations = CountedAllocations();
  // The share of the pass spent inside the platform, in time.
  const double inside =
      ticks == 0 ? 0.0 : static_cast<double>(metered.PlatformTicks()) / static_cast<double>(ticks);
  figures.platform = std::chrono::nanoseconds(
      static_cast<int64_t>(inside * static_cast<double>(figures.total.count())));
  // Each guard also crosses back into the command for its body.
  const uint64_t crossings = metered.TotalCalls() + metered.Count(PlatformCall::RunGuarded) +
                             metered.Count(PlatformCall::RunWithClosing);
  figures.meter =
      std::chrono::nanoseconds(static_cast<int64_t>(MeterCost() * static_cast<double>(crossings)));

  for (size_t kind = 0; kind < kPlatformCallCount; ++kind) {
    const auto call = static_cast<PlatformCall>(kind);
    figures.calls[kind] = metered.Count(call);
    if (sim::IsFaultableCall(PlatformCallName(call)) &&
        simulation.CallCount(PlatformCallName(call)) != metered.Count(call)) {
      figures.countMismatch +=
          std::string(figures.countMismatch.empty() ? "" : ", ") + PlatformCallName(call);
    }
  }
  figures.profileKeysLeft = simulation.Local().ProfileKeys().size();
  for (uint32_t n = 0; n < entries; ++n) {
    if (simulation.Local().FolderExists(u"C:\\Users\\User" + Decimal(n))) {
      ++figures.profileFoldersLeft;
    }
  }
  return figures;
}

}  // namespace wf::perf
