// A whole computer built from fuzz input, the command line that goes with
// it, and what the command may and may not do to it. The expectations are
// worked out from the staged data alone, by the rules the command documents
// (README, "What Wrenfold does when something is not right", and the
// engine's headers), never by asking the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "cli/RunControl.h"
#include "sim/SimPlatform.h"

class FuzzedDataProvider;

namespace wf::fuzz {

// A folder as the command's target sees it: a computer and a local path.
struct FolderId {
  sim::SimComputer* computer = nullptr;
  sim::LocalPath path;

  bool SameAs(const FolderId& other) const;
};

struct EntryModel {
  std::u16string sid;
  bool protectedSid = false;       // S-1-5-18, -19 or -20
  bool enumerable = false;         // ProfileImagePath reads as a non-empty text
  bool usable = false;             // and expands to a folder the hive fits under
  std::optional<FolderId> folder;  // the folder the entry names, when usable
  bool hasRoamingPath = false;     // CentralProfile reads as a non-empty text
};

class TargetCase {
 public:
  // Stages the computer and arguments from the input into sim.
  TargetCase(FuzzedDataProvider& data, sim::SimPlatform& sim);

  const std::vector<std::u16string>& Arguments() const { return arguments_; }
  sim::SimComputer& Target() const { return *target_; }
  size_t EntriesBefore() const { return entriesBefore_; }

  // Called just before the command deletes; adds what is wrong with it.
  void CheckDeleteProfile(const char16_t* sid, Findings& findings);
  void CheckRegDeleteKey(const char16_t* subKey, Findings& findings);
  // A deletion through the target's profile service over WMI: only of the
  // profile whose DeleteProfile has just been refused.
  void CheckDeleteInstance(const char16_t* objectPath, Findings& findings);
  // Called after the run with its exit code and output.
  void CheckAfterRun(int32_t exitCode, const std::string& output, Findings& findings) const;

 private:
  const EntryModel* FindEntry(std::u16string_view sid) const;
  std::optional<std::u16string> Expand(std::u16string_view text) const;
  std::optional<std::u16string> ExpandOnTarget(std::u16string_view text) const;
  std::optional<FolderId> ToFolder(std::u16string_view expanded) const;
  // Ancestors (or the folder itself when included) refuse access, or the
  // share that reaches the drive is not up.
  bool Unreachable(const FolderId& folder, bool includeSelf) const;
  bool IsProtectedFolder(const FolderId& folder) const;
  void CheckConfirmed(const char* call, Findings& findings);

  sim::SimPlatform& sim_;
  sim::SimComputer* target_ = nullptr;
  bool remote_ = false;
  std::u16string systemRoot_;    // a remote target's, as staged (empty: none)
  bool serviceOverWmi_ = false;  // a remote target of build 6001 or later
  std::vector<std::u16string> arguments_;
  std::vector<EntryModel> entries_;
  size_t entriesBefore_ = 0;
  std::vector<FolderId> protectedFolders_;
  int32_t minimumAge_ = 0;  // 0: not valid, the run stops at the usage screen
  bool walkRuns_ = true;    // the profiles directory can be expanded whole
  bool roamingOnly_ = false;
  bool noPrompt_ = false;  // /y
  int32_t yesKeys_ = 0;    // y or Y keys in the console script
  int32_t deletions_ = 0;
  std::u16string lastDeleteProfile_;  // the SID of the last DeleteProfile
  std::vector<uint32_t> stagedStatuses_;
};

// Builds a computer from the input, runs the command on it through
// WrenfoldMain (with runner as its per-computer pass when given) and returns
// what is wrong; the report goes to *output when asked for.
Findings RunTargetCase(const uint8_t* bytes, size_t size, TargetRunner runner = nullptr,
                       std::string* output = nullptr);

}  // namespace wf::fuzz
