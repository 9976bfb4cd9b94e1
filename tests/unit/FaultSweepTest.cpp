// Every platform call of one whole run over a mixed computer, failed in turn:
// first with a status, then with an exception. Whatever fails, the command
// must end in order, deletes nothing that a run without faults would keep,
// gives every profile block one action line, prints the summary once and
// leaves no handle open.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/RunControl.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

using sim::FaultPlan;

// The operations the simulation can fail. Their names are literals, so
// each view is terminated.
std::vector<const char*> FaultableCallNames() {
  std::vector<const char*> names;
  for (std::string_view name : sim::FaultableCalls()) names.push_back(name.data());
  return names;
}

constexpr int32_t kAccessViolationExit = static_cast<int32_t>(kExceptionAccessViolation);

// A computer with one profile of each kind (much as in the walk scenario
// "mixed-yes"): the SYSTEM account, the all-users and default folders, a
// skipped name, a hive in use, a young profile, three old ones, an orphaned
// entry, and two entries without a usable path.
void StageMixedComputer(const sim::SimPlatform& sim, sim::SimComputer& pc) {
  const std::u16string list(sim::kProfileListPath);
  pc.SetString(list, u"ProfilesDirectory", u"%SystemDrive%\\Users", kRegExpandSz);
  pc.SetString(list, u"Public", u"C:\\Users\\Public");
  pc.SetString(list, u"Default", u"C:\\Users\\Default");
  const auto entry = [&](const char16_t* sid, const char16_t* path) {
    pc.SetString(list + u"\\" + sid, u"ProfileImagePath", path, kRegExpandSz);
  };
  entry(u"s-1-5-18", u"C:\\Windows\\System32\\config\\systemprofile");
  entry(u"S-1-5-21-1-1-1-1000", u"C:\\Users\\Public");
  entry(u"S-1-5-21-1-1-1-1001", u"C:\\Users\\Default");
  entry(u"S-1-5-21-1-1-1-1002", u"C:\\Users\\Admin");
  entry(u"S-1-5-21-1-1-1-1003", u"C:\\Users\\Busy");
  entry(u"S-1-5-21-1-1-1-1004", u"C:\\Users\\Young");
  entry(u"S-1-5-21-1-1-1-1005", u"%SystemDrive%\\Users\\Old");
  entry(u"S-1-5-21-1-1-1-1006", u"C:\\Users\\Gone");
  pc.SetDword(list + u"\\S-1-5-21-1-1-1-1007", u"Flags", 0);
  pc.SetDword(list + u"\\S-1-5-21-1-1-1-1008", u"ProfileImagePath", 7);
  entry(u"S-1-5-21-1-1-1-1009", u"C:\\Users\\Old2");
  entry(u"S-1-5-21-1-1-1-1010", u"C:\\Users\\Old3");

  const FileTime now = sim.Now();
  const uint64_t day = sim::kTicksPerDay;
  const uint64_t hour = day / 24;
  // Every protected profile holds an old hive, so that a protection lost to
  // a fault shows as a deletion.
  pc.AddFile(u"C:\\Users\\Public\\NTUSER.DAT", now - 400 * day);
  pc.AddFile(u"C:\\Windows\\System32\\config\\systemprofile\\NTUSER.DAT", now - 400 * day);
  pc.AddFile(u"C:\\Users\\Default\\NTUSER.DAT", now - 400 * day);
  pc.AddFile(u"C:\\Users\\Admin\\NTUSER.DAT", now - 400 * day);
  pc.AddFile(u"C:\\Users\\Busy\\NTUSER.DAT", now - 400 * day).heldOpen = true;
  pc.AddFile(u"C:\\Users\\Young\\NTUSER.DAT", now - 29 * day - 23 * hour);
  pc.AddFile(u"C:\\Users\\Old\\NTUSER.DAT", now - 30 * day - 5 * hour);
  pc.AddFile(u"C:\\Users\\Old2\\NTUSER.DAT", now - 45 * day);
  pc.AddFile(u"C:\\Users\\Old3\\NTUSER.DAT", now - 60 * day - 2 * hour);
}

struct Outcome {
  int32_t exit = 0;
  std::string output;
  std::vector<sim::RecordedCall> calls;
  std::set<std::u16string> profileKeys;
  std::set<std::u16string> paths;  // folders and files
  size_t openRegistryHandles = 0;
  size_t openFileHandles = 0;
  std::map<std::string, uint32_t> callCounts;
};

enum class Target { Local, Remote };

// One whole run of "wrenfold /MIN:30 /SKIP:Admin /y" over a fresh computer:
// the local one, or PC07 cleaned from a running computer old enough (build
// 3790) for the profile service to delete on another computer.
Outcome RunCommand(const FaultPlan* fault, Target target = Target::Local) {
  sim::SimPlatform sim;
  sim.CaptureStandardOutput(false);
  const bool remote = target == Target::Remote;
  sim::SimComputer& pc = remote ? sim.AddRemote(u"PC07") : sim.Local();
  if (remote) {
    sim.Local().build = 3790;
    pc.SetString(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentBuildNumber",
                 u"7601");
  }
  StageMixedComputer(sim, pc);
  if (fault != nullptr) sim.AddFault(*fault);
  static const char16_t* const kArguments[] = {
      u"C:\\Tools\\wrenfold.exe", u"/MIN:30", u"/SKIP:Admin", u"/y", u"\\\\PC07", nullptr};
  Outcome outcome;
  outcome.exit = WrenfoldMain(sim, remote ? 5 : 4, kArguments);
  outcome.output = sim.StandardOutput();
  outcome.calls = sim.Calls();
  for (const std::u16string& key : pc.ProfileKeys()) {
    outcome.profileKeys.insert(sim::FoldUpper(key));
  }
  for (const std::u16string& path : pc.Folders()) {
    outcome.paths.insert(sim::FoldUpper(path));
  }
  for (const std::u16string& path : pc.FilePaths()) {
    outcome.paths.insert(sim::FoldUpper(path));
  }
  outcome.openRegistryHandles = sim.OpenRegistryHandles();
  outcome.openFileHandles = sim.OpenFileHandles();
  for (const char* call : FaultableCallNames()) outcome.callCounts[call] = sim.CallCount(call);
  return outcome;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

// Each profile block, from its "\r\n\r\n[" header to the next header or
// the summary, must hold exactly one action line; with lastMayBeCut the
// block right before the summary (or the end) may hold none. Returns the
// first block that breaks this, or an empty text.
std::string BlockWithoutOneAction(const std::string& output, bool lastMayBeCut) {
  const std::string header = "\r\n\r\n[";
  const std::string summary = "\r\n\r\n[Summary for ";
  const std::string settings = "\r\n\r\n[Settings]";
  size_t at = output.find(header);
  while (at != std::string::npos) {
    const size_t next = output.find(header, at + header.size());
    if (output.compare(at, summary.size(), summary) != 0 &&
        output.compare(at, settings.size(), settings) != 0) {
      const std::string block = output.substr(at, next == std::string::npos ? next : next - at);
      const size_t actions = Count(block, "\r\nAction=");
      const bool cut =
          actions == 0 && lastMayBeCut &&
          (next == std::string::npos || output.compare(next, summary.size(), summary) == 0);
      if (actions != 1 && !cut) return block;
    }
    at = next;
  }
  return {};
}

// The statuses that "DeleteProfile(%s) failed with error %d" reported.
std::set<int32_t> FailedDeletionStatuses(const std::string& output) {
  std::set<int32_t> statuses;
  const std::string marker = ") failed with error ";
  for (size_t at = output.find("\r\nDeleteProfile("); at != std::string::npos;
       at = output.find("\r\nDeleteProfile(", at + 1)) {
    const size_t number = output.find(marker, at);
    if (number != std::string::npos) {
      statuses.insert(std::stoi(output.substr(number + marker.size())));
    }
  }
  return statuses;
}

std::string Describe(const sim::RecordedCall& call) {
  std::string text = call.call + "(";
  for (size_t i = 0; i < call.arguments.size(); ++i) {
    if (i > 0) text += ", ";
    text += call.arguments[i] ? sim::ToUtf8(*call.arguments[i]) : "null";
  }
  return text + ")";
}

bool SameCall(const sim::RecordedCall& a, const sim::RecordedCall& b) {
  return a.call == b.call && a.arguments == b.arguments;
}

std::string Describe(const FaultPlan& fault) {
  std::string kind;
  switch (fault.kind) {
    case FaultPlan::Kind::Status:
      kind = "status " + std::to_string(fault.status);
      break;
    case FaultPlan::Kind::AccessViolation:
      kind = "access violation";
      break;
    case FaultPlan::Kind::ModuleNotFound:
      kind = "module not found";
      break;
    case FaultPlan::Kind::ProcNotFound:
      kind = "procedure not found";
      break;
  }
  return fault.call + " #" + std::to_string(fault.occurrence) + ", " + kind;
}

// What one faulted run got wrong, measured against the run without faults;
// empty when nothing.
std::vector<std::string> Problems(const FaultPlan& fault, const Outcome& clean,
                                  const Outcome& run) {
  std::vector<std::string> problems;
  const auto problem = [&](const std::string& what) {
    problems.push_back(Describe(fault) + ": " + what);
  };

  std::set<int32_t> exits = {0, 5, 1231, 1223, 1011, kAccessViolationExit};
  for (int32_t status : FailedDeletionStatuses(run.output)) exits.insert(status);
  if (exits.count(run.exit) == 0) problem("exit code " + std::to_string(run.exit));

  // A changing call that the clean run did not make may only be one that
  // changed nothing: its target is still there.
  std::vector<sim::RecordedCall> unmatched = clean.calls;
  for (const sim::RecordedCall& call : run.calls) {
    auto same = std::find_if(unmatched.begin(), unmatched.end(),
                             [&](const sim::RecordedCall& c) { return SameCall(c, call); });
    if (same != unmatched.end()) {
      unmatched.erase(same);
      continue;
    }
    const std::u16string sid = call.arguments.empty() || !call.arguments[0]
                                   ? std::u16string()
                                   : sim::FoldUpper(*call.arguments[0]);
    if (run.profileKeys.count(sid) == 0) problem("unintended deletion " + Describe(call));
  }
  for (const std::u16string& key : clean.profileKeys) {
    if (run.profileKeys.count(key) == 0) problem("entry removed: " + sim::ToUtf8(key));
  }
  for (const std::u16string& path : clean.paths) {
    if (run.paths.count(path) == 0) problem("removed: " + sim::ToUtf8(path));
  }

  // A fault that leaves the walk ends the pass inside the block it was in:
  // that block, the last before the summary, has no action line then.
  const std::string block = BlockWithoutOneAction(run.output, run.exit == kAccessViolationExit);
  if (!block.empty()) problem("a profile block without exactly one action line:" + block);
  if (run.output.find("\r\n[Settings]") != std::string::npos) {
    const size_t summaries = Count(run.output, "\r\n\r\n[Summary for ");
    if (summaries != 1) problem(std::to_string(summaries) + " summaries");
  }
  if (run.openRegistryHandles != 0 || run.openFileHandles != 0) {
    problem(std::to_string(run.openRegistryHandles) + " registry and " +
            std::to_string(run.openFileHandles) + " file handles left open");
  }
  return problems;
}

enum class FaultClass { Status, Exception };

struct SweepCase {
  const char* call;
  FaultClass faults;
  Target target;
};

void PrintTo(const SweepCase& sweep, std::ostream* out) {
  *out << sweep.call << (sweep.faults == FaultClass::Status ? " statuses" : " exceptions")
       << (sweep.target == Target::Remote ? " on a remote computer" : "");
}

// The faults tried at each call: statuses other than "not found", or an
// access violation and, for the registry functions, which may be bound
// late, the two late-binding failures.
std::vector<FaultPlan> FaultsAt(const SweepCase& sweep, uint32_t occurrence) {
  const std::string call = sweep.call;
  if (sweep.faults == FaultClass::Status) {
    return {FaultPlan::Status(call, occurrence, 5), FaultPlan::Status(call, occurrence, 1231)};
  }
  std::vector<FaultPlan> faults = {
      FaultPlan::Exception(call, occurrence, FaultPlan::Kind::AccessViolation)};
  if (call.rfind("Reg", 0) == 0) {
    faults.push_back(
        FaultPlan::Exception(call, occurrence, FaultPlan::Kind::ModuleNotFound, "advapi32.dll"));
    faults.push_back(FaultPlan::Exception(call, occurrence, FaultPlan::Kind::ProcNotFound,
                                          "advapi32.dll", call + "W"));
  }
  return faults;
}

class FaultSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  static void SetUpTestSuite() {
    clean_[0] = new Outcome(RunCommand(nullptr, Target::Local));
    clean_[1] = new Outcome(RunCommand(nullptr, Target::Remote));
  }
  static void TearDownTestSuite() {
    for (Outcome*& outcome : clean_) {
      delete outcome;
      outcome = nullptr;
    }
  }
  static const Outcome& Clean() { return *clean_[GetParam().target == Target::Remote ? 1 : 0]; }

 private:
  static Outcome* clean_[2];
};

Outcome* FaultSweep::clean_[2] = {nullptr, nullptr};

TEST(FaultSweepBaseline, TheRunWithoutFaultsDeletesWhatWasStagedForDeletion) {
  const Outcome clean = RunCommand(nullptr);
  EXPECT_EQ(clean.exit, 0) << clean.output;
  // The sweep means something only if the clean run deletes the three old
  // profiles and the orphaned entry, and nothing else.
  std::vector<std::string> calls;
  for (const sim::RecordedCall& call : clean.calls) calls.push_back(Describe(call));
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "DeleteProfile(S-1-5-21-1-1-1-1005, C:\\Users\\Old\\, null)",
                       "RegDeleteKey(S-1-5-21-1-1-1-1006)",
                       "DeleteProfile(S-1-5-21-1-1-1-1009, C:\\Users\\Old2\\, null)",
                       "DeleteProfile(S-1-5-21-1-1-1-1010, C:\\Users\\Old3\\, null)",
                   }));
  EXPECT_EQ(Problems(FaultPlan::Status("none", 1, 0), clean, clean), std::vector<std::string>{})
      << clean.output;
  // From an old running computer, the same deletions happen on PC07.
  const Outcome remote = RunCommand(nullptr, Target::Remote);
  EXPECT_EQ(remote.exit, 0) << remote.output;
  ASSERT_EQ(remote.calls.size(), 4u) << remote.output;
  EXPECT_EQ(Describe(remote.calls[0]),
            "DeleteProfile(S-1-5-21-1-1-1-1005, \\\\PC07\\C$\\Users\\Old\\, PC07)");
}

// Fails every occurrence of one call in turn, each in a fresh run.
TEST_P(FaultSweep, NoSingleFaultDeletesMoreOrLeavesTheRunUnfinished) {
  const uint32_t count = Clean().callCounts.at(GetParam().call);
  if (count == 0) GTEST_SKIP() << "the run makes no such call";
  size_t runs = 0;
  std::vector<std::string> problems;
  for (uint32_t occurrence = 1; occurrence <= count; ++occurrence) {
    for (const FaultPlan& fault : FaultsAt(GetParam(), occurrence)) {
      const Outcome run = RunCommand(&fault, GetParam().target);
      ++runs;
      for (std::string& p : Problems(fault, Clean(), run)) problems.push_back(std::move(p));
    }
  }
  RecordProperty("runs", static_cast<int>(runs));
  std::string report;
  for (const std::string& p : problems) report += "\n" + p;
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems in " << runs << " runs:" << report;
}

std::vector<SweepCase> AllSweeps() {
  std::vector<SweepCase> sweeps;
  for (const Target target : {Target::Local, Target::Remote}) {
    for (const char* call : FaultableCallNames()) {
      sweeps.push_back({call, FaultClass::Status, target});
      sweeps.push_back({call, FaultClass::Exception, target});
    }
  }
  return sweeps;
}

// Names a case after its call and fault class.
std::string SweepName(const ::testing::TestParamInfo<SweepCase>& param) {
  return std::string(param.param.call) +
         (param.param.faults == FaultClass::Status ? "_Status" : "_Exception") +
         (param.param.target == Target::Remote ? "_Remote" : "");
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FaultSweep, ::testing::ValuesIn(AllSweeps()), SweepName);

}  // namespace
}  // namespace wf
