// The checks the fuzz targets judge runs by must not let through what they
// are there to catch: broken line ends, blocks or counters, and passes over
// made-up computers that delete what the command must keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "TargetCase.h"
#include "engine/TargetContext.h"
#include "platform/ConsoleOutput.h"

namespace {

using wf::fuzz::Findings;

TEST(FuzzChecks, ReportChecks) {
  Findings findings;
  wf::fuzz::CheckLineEnds("\nA", findings);
  wf::fuzz::CheckLineEnds("A\r\nB\nC", findings);
  EXPECT_EQ(findings.size(), 2u);

  // No action line in a block that is not the last, two in one, none in
  // the last before the summary (cut short only when that is allowed).
  const std::string report =
      "\r\n[Settings]\r\n\r\n\r\n[A]\r\nModified Date=(Not found)\r\n\r\n[B]\r\nAction=Deleting"
      "\r\nAction=Skipping (Date)\r\n\r\n[C]\r\nAction=Deleting\r\n\r\n[D]\r\nProfile Age=3 days"
      "\r\n\r\n[Summary for PC01]\r\nProfiles Enumerated=-4\r\nProfiles Deleted=\r\n";
  findings.clear();
  EXPECT_EQ(wf::fuzz::CheckProfileBlocks(report, findings), 4);
  EXPECT_EQ(findings.size(), 3u);
  findings.clear();
  wf::fuzz::CheckProfileBlocks(report, findings, true);
  EXPECT_EQ(findings, (Findings{"profile block [A] has 0 Action= lines",
                                "profile block [B] has 2 Action= lines"}));

  EXPECT_EQ(wf::fuzz::ReadCounter(report, "Profiles Enumerated"), -4);
  EXPECT_EQ(wf::fuzz::ReadCounter(report, "Profiles Deleted"), std::nullopt);
  EXPECT_EQ(wf::fuzz::ReadCounter(report, "Free Disk Space Before"), std::nullopt);
}

// Passes that ask nothing and keep nothing: act on every entry of the local
// ProfileList, with the list's key and the entry's name.
template <typename Act>
int32_t EveryEntry(wf::Platform& platform, const char16_t* computerName, Act act) {
  wf::RegKey list = wf::kNoKey;
  if (computerName != nullptr ||
      platform.RegOpenKeyEx(wf::kHKeyLocalMachine, wf::kProfileListKeyPath, 0, wf::kKeyRead,
                            &list) != 0) {
    return 0;
  }
  std::vector<std::u16string> names;
  for (uint32_t index = 0;; ++index) {
    char16_t name[400] = {};
    uint32_t chars = 400;
    if (platform.RegEnumKeyEx(list, index, name, &chars) != 0) break;
    names.emplace_back(name);
  }
  for (const std::u16string& sid : names) act(list, sid.c_str());
  platform.RegCloseKey(list);
  return 0;
}

int32_t DeleteEveryProfile(wf::Platform& platform, const wf::RunSettings&, const char16_t* name) {
  return EveryEntry(platform, name, [&](wf::RegKey, const char16_t* sid) {
    platform.DeleteProfile(sid, nullptr, nullptr);
  });
}

int32_t RemoveEveryEntry(wf::Platform& platform, const wf::RunSettings&, const char16_t* name) {
  return EveryEntry(platform, name, [&](wf::RegKey list, const char16_t* sid) {
    platform.RegDeleteKey(list, sid);
  });
}

// A report that claims what did not happen.
int32_t ClaimDeletions(wf::Platform&, const wf::RunSettings&, const char16_t*) {
  wf::ConsolePrint(u"\n\n[C:\\Users\\Nobody\\]\nModified Date=(Not found)");
  wf::ConsolePrint(u"\n\n[Summary for PC01]\nProfiles Enumerated=2\nProfiles Deleted=1\n");
  return 0;
}

TEST(FuzzChecks, EveryKindOfWrongPassIsReported) {
  const struct {
    wf::TargetRunner runner;
    int computers;
    std::vector<const char*> kinds;
  } passes[] = {
      {&DeleteEveryProfile,
       1000,
       {": a system account", ": a protected folder", ": an unreachable folder",
        ": its folder does not exist", ": its hive is in use", "days old, minimum",
        ": its hive was written in the future", ": no hive to date it by",
        ": local profile with /R", ": its profile path is not usable", "yes keys and no /y",
        "in a run that must not walk the profiles", "no summary counters"}},
      {&RemoveEveryEntry,
       200,
       {": its folder exists", ": its profile path is not usable", ": its folder is unreachable"}},
      {&ClaimDeletions,
       50,
       {"0 Action= lines", "Profiles Enumerated=2 but 1 profile blocks",
        "Profiles Deleted=1 but 0 entries gone"}},
  };
  for (const auto& pass : passes) {
    std::mt19937 random(20261201);
    std::set<std::string> findings;
    for (int i = 0; i < pass.computers; ++i) {
      std::vector<uint8_t> input(1 + random() % 3000);
      for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
      for (std::string& finding :
           wf::fuzz::RunTargetCase(input.data(), input.size(), pass.runner)) {
        findings.insert(std::move(finding));
      }
    }
    for (const char* kind : pass.kinds) {
      EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [&](const std::string& finding) {
        return finding.find(kind) != std::string::npos;
      })) << kind;
    }
  }
}

}  // namespace
