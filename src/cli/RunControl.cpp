#include "cli/RunControl.h"

#include "cli/Arguments.h"
#include "cli/Usage.h"
#include "engine/ProcessTarget.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"
#include "platform/Text.h"

namespace wf {
namespace {

// Computer names are passed without their backslashes, at most 259
// characters, upper-cased (A to Z only) unless dotted.
constexpr size_t kComputerNameChars = 260;

struct Run {
  Platform& platform;
  int argc;
  const char16_t* const* argv;
  TargetRunner runner;
  RunSettings settings;
  bool exitEarly = false;  // the exits with 1 and 87 skip the closing lines
  int32_t result = 0;
};

void RunCommand(Run& run) {
  const ArgumentsResult args = ReadArguments(run.argc, run.argv, run.settings);
  if (args.outcome == ArgumentsOutcome::HelpRequested) {
    ShowUsage(run.argv[0]);
    run.exitEarly = true;
    run.result = 1;
    return;
  }
  if (args.outcome == ArgumentsOutcome::InvalidSwitch) {
    ConsolePrint(u"\n\nInvalid switch \"%s\".\n", args.invalidArgument);
    run.exitEarly = true;
    run.result = kErrorInvalidParameter;
    return;
  }
  if (run.settings.MinimumAge == kMinimumAgeNotGiven) {
    ShowUsage(run.argv[0]);
    run.exitEarly = true;
    run.result = kErrorInvalidParameter;
    return;
  }

  ConsolePrint(u"\n%s [Version %s]\n", kProductName, kProductVersion);
  ConsolePrint(u"\n[Settings]");
  ConsolePrint(u"\nMinimum Age=%d days", run.settings.MinimumAge);
  ConsolePrint(u"\nSkip Names=%s\n", run.settings.SkipNames.Data());

  if (!args.listMode) {
    const int32_t status = run.runner(run.platform, run.settings, nullptr);
    if (status != 0) run.result = status;
    return;
  }

  char16_t name[kComputerNameChars];
  for (int i = 1; i < run.argc; ++i) {
    const char16_t* arg = run.argv[i];
    if (!IsComputerArgument(arg)) continue;
    for (char16_t& c : name) c = 0;
    CopyText(name, kComputerNameChars, arg + 2);
    if (!Contains(name, u'.')) {
      for (char16_t& c : name) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      }
    }
    const int32_t status = run.runner(run.platform, run.settings, name);
    if (status != 0) run.result = status;
  }
}

}  // namespace

int32_t WrenfoldMain(Platform& platform, int argc, const char16_t* const* argv,
                     TargetRunner runner) {
  ConsoleAttach(platform);
  Run run{platform, argc, argv, runner != nullptr ? runner : &ProcessTarget, {}, false, 0};
  static const char16_t* const kNoArguments[] = {u"", nullptr};
  if (argc < 1 || argv == nullptr) {
    run.argc = 1;
    run.argv = kNoArguments;
  }

  // Any fault that reaches this guard ends the run with the access
  // violation code; the interrupted pass has run its own closing steps.
  const bool completed = RunGuarded(
      platform, [&run] { RunCommand(run); },
      [](const FaultInfo&) -> int32_t { return kExceptionExecuteHandler; });
  if (!completed) {
    run.exitEarly = false;
    run.result = static_cast<int32_t>(kExceptionAccessViolation);
  }

  if (!run.exitEarly) {
    if (run.result == 0) ConsolePrint(u"\n\n\nThe command completed successfully.");
    if (run.settings.Trace != 0) {
      ConsolePrint(u"\nProcess is exiting with return code [%d]", run.result);
    }
    ConsolePrint(u"\n\n");
  }
  ConsoleFlush();
  return run.result;
}

}  // namespace wf
