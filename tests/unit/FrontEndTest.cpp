// The command line, usage screen, run control and the guard around the run,
// checked as whole output byte strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExpectedOutput.h"
#include "cli/RunControl.h"
#include "engine/DelayLoadFilter.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

using testing::Crlf;
using testing::UsageScreen;

std::string Banner(const std::string& days, const std::string& skip = "") {
  return Crlf("\nWrenfold [Version 1.10]\n\n[Settings]\nMinimum Age=" + days +
              " days\nSkip Names=" + skip + "\n");
}

const std::string kSuccess = Crlf("\n\n\nThe command completed successfully.\n\n");

// What the stand-in pass saw and answers.
struct Recorder {
  std::vector<std::u16string> names;  // "(local)" for the local computer
  std::vector<int32_t> results;       // answered in turn; 0 when exhausted
  RunSettings settings;
};
Recorder* g_recorder = nullptr;

int32_t RecordingRunner(Platform&, const RunSettings& settings, const char16_t* name) {
  g_recorder->settings = settings;
  g_recorder->names.push_back(name == nullptr ? u"(local)" : name);
  const size_t i = g_recorder->names.size() - 1;
  return i < g_recorder->results.size() ? g_recorder->results[i] : 0;
}

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = &recorder;
    sim.CaptureStandardOutput(false);
  }
  void TearDown() override { g_recorder = nullptr; }

  int32_t Run(std::vector<std::u16string> args, TargetRunner runner = RecordingRunner) {
    args.insert(args.begin(), program);
    std::vector<const char16_t*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return WrenfoldMain(sim, static_cast<int>(args.size()), argv.data(), runner);
  }
  const std::string& Out() const { return sim.StandardOutput(); }

  sim::SimPlatform sim;
  Recorder recorder;
  std::u16string program = u"C:\\Tools\\wrenfold.exe";
};

TEST_F(FrontEnd, HelpAndMissingAgeShowTheUsageScreen) {
  EXPECT_EQ(Run({u"/?"}), 1);
  EXPECT_EQ(Out(), UsageScreen("wrenfold.exe"));
  EXPECT_TRUE(recorder.names.empty());
}

TEST_F(FrontEnd, NoArgumentsGiveUsageAnd87) {
  EXPECT_EQ(Run({}), 87);
  EXPECT_EQ(Out(), UsageScreen("wrenfold.exe"));
}

TEST_F(FrontEnd, ArgumentOrderDecidesBetweenHelpAndInvalidSwitch) {
  EXPECT_EQ(Run({u"/MIN:30", u"/x", u"/?"}), 87);
  EXPECT_EQ(Out(), "\r\n\r\nInvalid switch \"/x\".\r\n");
}

TEST_F(FrontEnd, HelpBeforeAnInvalidSwitchWins) {
  EXPECT_EQ(Run({u"/MIN:30", u"-?", u"/x"}), 1);
  EXPECT_EQ(Out(), UsageScreen("wrenfold.exe"));
}

TEST_F(FrontEnd, LocalRunPrintsBannerSettingsAndClosingLines) {
  EXPECT_EQ(Run({u"/MIN:30"}), 0);
  EXPECT_EQ(Out(), Banner("30") + kSuccess);
  ASSERT_EQ(recorder.names, std::vector<std::u16string>{u"(local)"});
  EXPECT_EQ(recorder.settings.MinimumAge, 30);
  EXPECT_EQ(recorder.settings.Confirm, 1);
  EXPECT_EQ(recorder.settings.RoamingOnly, 0);
  EXPECT_EQ(recorder.settings.Trace, 0);
}

TEST_F(FrontEnd, SwitchesInAnyCaseAndWithDash) {
  EXPECT_EQ(Run({u"-min:7", u"/Y", u"-r", u"/skip:Admin:Guest", u"-TraceAll"}), 0);
  EXPECT_EQ(Out(),
            Banner("7", "Admin:Guest") + Crlf("\n\n\nThe command completed successfully."
                                              "\nProcess is exiting with return code [0]\n\n"));
  EXPECT_EQ(recorder.settings.Confirm, 0);
  EXPECT_EQ(recorder.settings.RoamingOnly, 1);
  EXPECT_EQ(recorder.settings.Trace, 1);
}

TEST_F(FrontEnd, TraceShowsTheExitCode) {
  EXPECT_EQ(Run({u"/MIN:30", u"/TraceAll"}), 0);
  EXPECT_EQ(Out(), Banner("30") + Crlf("\n\n\nThe command completed successfully."
                                       "\nProcess is exiting with return code [0]\n\n"));
}

TEST_F(FrontEnd, TraceSwitchIsCaseSensitive) {
  EXPECT_EQ(Run({u"/MIN:30", u"/traceall"}), 87);
  EXPECT_EQ(Out(), "\r\n\r\nInvalid switch \"/traceall\".\r\n");
}

TEST_F(FrontEnd, LastMinimumAgeCounts) {
  EXPECT_EQ(Run({u"/MIN:30", u"/MIN:0"}), 87);
  EXPECT_EQ(Out(), UsageScreen("wrenfold.exe"));
  EXPECT_TRUE(recorder.names.empty());
}

TEST_F(FrontEnd, MinimumAgeReadsFiveCharacters) {
  EXPECT_EQ(Run({u"/MIN:0", u"/MIN:123456"}), 0);
  EXPECT_EQ(Out(), Banner("12345") + kSuccess);
}

TEST_F(FrontEnd, ComputerArgumentsNeedTwoBackslashesAndANameCharacter) {
  EXPECT_EQ(Run({u"/MIN:30", u"\\\\"}), 87);
  EXPECT_EQ(Out(), "\r\n\r\nInvalid switch \"\\\\\".\r\n");
}

TEST_F(FrontEnd, OneBackslashIsNoComputer) {
  EXPECT_EQ(Run({u"/MIN:30", u"\\pc1"}), 87);
  EXPECT_EQ(Out(), "\r\n\r\nInvalid switch \"\\pc1\".\r\n");
}

TEST_F(FrontEnd, ListModeRunsEachNameInOrderAndNotTheLocalComputer) {
  EXPECT_EQ(Run({u"\\\\pc1", u"/MIN:30", u"\\\\pc2.dept", u"\\\\pc1", u"\\\\a"}), 0);
  EXPECT_EQ(recorder.names, (std::vector<std::u16string>{u"PC1", u"pc2.dept", u"PC1", u"A"}));
  EXPECT_EQ(Out(), Banner("30") + kSuccess);
}

TEST_F(FrontEnd, OnlyAToZAreUpperCased) {
  EXPECT_EQ(Run({u"/MIN:30", u"\\\\pc-\u00e9_z"}), 0);
  EXPECT_EQ(recorder.names, std::vector<std::u16string>{u"PC-\u00e9_Z"});
}

TEST_F(FrontEnd, LastNonZeroResultIsTheExitCode) {
  recorder.results = {53, 0};
  EXPECT_EQ(Run({u"/MIN:30", u"\\\\pc1", u"\\\\pc2"}), 53);
  EXPECT_EQ(Out(), Banner("30") + "\r\n\r\n");
}

TEST_F(FrontEnd, LaterFailureReplacesEarlierSuccess) {
  recorder.results = {0, 5};
  EXPECT_EQ(Run({u"/MIN:30", u"\\\\pc1", u"\\\\pc2", u"/TraceAll"}), 5);
  EXPECT_EQ(Out(), Banner("30") + Crlf("\nProcess is exiting with return code [5]\n\n"));
}

TEST_F(FrontEnd, LongTextsAreCut) {
  const std::u16string name(300, u'n');
  const std::u16string skip(1100, u's');
  EXPECT_EQ(Run({u"/MIN:30", u"\\\\" + name, u"/SKIP:" + skip}), 0);
  ASSERT_EQ(recorder.names.size(), 1u);
  EXPECT_EQ(recorder.names[0], std::u16string(259, u'N'));
  EXPECT_EQ(Out(), Banner("30", std::string(1023, 's')) + kSuccess);
}

TEST_F(FrontEnd, ProgramNameIsTheTextAfterTheLastBackslash) {
  program = u"cleanup";
  EXPECT_EQ(Run({u"/?"}), 1);
  EXPECT_EQ(Out(), UsageScreen("cleanup"));
}

TEST_F(FrontEnd, ProgramPathEndingInBackslashGivesAnEmptyName) {
  program = u"C:\\Tools\\";
  EXPECT_EQ(Run({u"/?"}), 1);
  EXPECT_EQ(Out(), UsageScreen(""));
}

TEST_F(FrontEnd, ProgramPathIsCutAt260BeforeTheNameIsFound) {
  // The backslash before tool.exe lies beyond the cut, so the name is what
  // follows the drive's backslash, up to the cut.
  program = u"C:\\" + std::u16string(262, u'a') + u"\\tool.exe";
  EXPECT_EQ(Run({u"/?"}), 1);
  EXPECT_EQ(Out(), UsageScreen(std::string(257, 'a')));
}

// A pass that opens something, then faults; its closing step must run.
int32_t FaultingRunner(Platform& platform, const RunSettings&, const char16_t*) {
  g_recorder->names.push_back(u"started");
  RunWithClosing(
      platform, [&] { platform.RaiseFault(kExceptionAccessViolation); },
      [] {
        g_recorder->names.push_back(u"closed");
        ConsolePrint(u"\n\n[Summary for %s]", u"PC01");
      });
  g_recorder->names.push_back(u"not reached");
  return 0;
}

TEST_F(FrontEnd, FaultEndsTheRunWithAccessViolationAndClosingLines) {
  const int32_t code = Run({u"/MIN:30", u"/TraceAll", u"\\\\pc1", u"\\\\pc2"}, FaultingRunner);
  EXPECT_EQ(static_cast<uint32_t>(code), 0xC0000005u);
  EXPECT_EQ(recorder.names, (std::vector<std::u16string>{u"started", u"closed"}));
  EXPECT_EQ(Out(), Banner("30") + Crlf("\n\n[Summary for PC01]"
                                       "\nProcess is exiting with return code [-1073741819]\n\n"));
}

struct FilterCase {
  FaultInfo fault;
  int32_t answer;
  std::string output;
};

TEST(DelayLoadFailureFilter, NamesTheMissingModuleOrFunction) {
  FaultInfo module{kDelayLoadModuleNotFound, true, "advapi32.dll", false, nullptr, 0};
  FaultInfo byName{kDelayLoadProcNotFound, true, "advapi32.dll", true, "RegConnectRegistryW", 0};
  FaultInfo byOrdinal{kDelayLoadProcNotFound, true, "advapi32.dll", false, nullptr, 17};
  FaultInfo other{kExceptionAccessViolation, false, nullptr, false, nullptr, 0};
  const FilterCase cases[] = {
      {module, kExceptionExecuteHandler, "\r\nFailed to find required DLL: advapi32.dll"},
      {byName, kExceptionExecuteHandler,
       "\r\nFailed to find required function RegConnectRegistryW() in advapi32.dll"},
      {byOrdinal, kExceptionExecuteHandler,
       "\r\nFailed to find required function ordinal 17 in advapi32.dll"},
      {other, kExceptionContinueSearch, ""},
  };
  for (const FilterCase& c : cases) {
    sim::SimPlatform sim;
    sim.CaptureStandardOutput(true);
    ConsoleAttach(sim);
    EXPECT_EQ(DelayLoadFailureFilter(c.fault), c.answer);
    ConsoleFlush();
    EXPECT_EQ(sim.StandardOutput(), c.output);
  }
}

}  // namespace
}  // namespace wf
