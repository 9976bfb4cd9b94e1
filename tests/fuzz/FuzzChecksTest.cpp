// The checks the fuzz targets judge runs by must catch what they are there
// to catch: reports with broken line ends, blocks or counters, and passes
// that delete what the command must keep. A pass that deletes everything is
// run over many made-up computers, and every kind of wrong deletion has to
// be reported.
#include <gtest/gtest.h>

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

bool Mentions(const Findings& findings, std::string_view part) {
  for (const std::string& finding : findings) {
    if (finding.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST(FuzzChecks, LineEnds) {
  Findings findings;
  wf::fuzz::CheckLineEnds("\r\nA\r\n\r\nB\r", findings);
  EXPECT_TRUE(findings.empty());
  wf::fuzz::CheckLineEnds("\nA", findings);
  wf::fuzz::CheckLineEnds("A\r\nB\nC", findings);
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_NE(findings[1].find("byte 4"), std::string::npos);
}

TEST(FuzzChecks, ProfileBlocksHaveOneActionEach) {
  const std::string good =
      "\r\n[Settings]\r\nSkip Names=\r\n\r\n\r\n[C:\\Users\\A\\]\r\nAction=Skipping (Name)"
      "\r\n\r\nKeyName[1]: [S-1]\r\n\r\n[C:\\Users\\B\\]\r\nProfile Age=3 days"
      "\r\nAction=Skipping (Date)\r\n\r\n[Summary for PC01]\r\nProfiles Enumerated=2";
  Findings findings;
  EXPECT_EQ(wf::fuzz::CheckProfileBlocks(good, findings), 2);
  EXPECT_TRUE(findings.empty());

  const std::string none =
      "\r\n\r\n[C:\\Users\\A\\]\r\nModified Date=(Not found)\r\n\r\n[Summary for PC01]";
  EXPECT_EQ(wf::fuzz::CheckProfileBlocks(none, findings), 1);
  const std::string two = "\r\n\r\n[C:\\Users\\A\\]\r\nAction=Deleting\r\nAction=Skipping (Date)";
  EXPECT_EQ(wf::fuzz::CheckProfileBlocks(two, findings), 1);
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_NE(findings[0].find("0 Action= lines"), std::string::npos);
  EXPECT_NE(findings[1].find("2 Action= lines"), std::string::npos);
}

TEST(FuzzChecks, Counters) {
  const std::string summary = "\r\nProfiles Enumerated=12\r\nProfiles Deleted=-1\r\nX=";
  EXPECT_EQ(wf::fuzz::ReadCounter(summary, "Profiles Enumerated"), 12);
  EXPECT_EQ(wf::fuzz::ReadCounter(summary, "Profiles Deleted"), -1);
  EXPECT_FALSE(wf::fuzz::ReadCounter(summary, "X").has_value());
  EXPECT_FALSE(wf::fuzz::ReadCounter(summary, "Free Disk Space Before").has_value());
}

// Subkey names of the local ProfileList.
std::vector<std::u16string> LocalEntries(wf::Platform& platform) {
  std::vector<std::u16string> names;
  wf::RegKey list = wf::kNoKey;
  if (platform.RegOpenKeyEx(wf::kHKeyLocalMachine, wf::kProfileListKeyPath, 0, wf::kKeyRead,
                            &list) != 0) {
    return names;
  }
  for (uint32_t index = 0;; ++index) {
    char16_t name[400] = {};
    uint32_t chars = 400;
    if (platform.RegEnumKeyEx(list, index, name, &chars) != 0) break;
    names.emplace_back(name);
  }
  platform.RegCloseKey(list);
  return names;
}

// Passes that ask nothing and keep nothing.
int32_t DeleteEveryProfile(wf::Platform& platform, const wf::RunSettings&, const char16_t* name) {
  if (name == nullptr) {
    for (const std::u16string& sid : LocalEntries(platform)) {
      platform.DeleteProfile(sid.c_str(), nullptr, nullptr);
    }
  }
  return 0;
}

int32_t RemoveEveryEntry(wf::Platform& platform, const wf::RunSettings&, const char16_t* name) {
  if (name == nullptr) {
    wf::RegKey list = wf::kNoKey;
    platform.RegOpenKeyEx(wf::kHKeyLocalMachine, wf::kProfileListKeyPath, 0, wf::kKeyRead, &list);
    for (const std::u16string& sid : LocalEntries(platform)) {
      platform.RegDeleteKey(list, sid.c_str());
    }
    platform.RegCloseKey(list);
  }
  return 0;
}

// A report that claims what did not happen.
int32_t ClaimDeletions(wf::Platform&, const wf::RunSettings&, const char16_t*) {
  wf::ConsolePrint(u"\n\n[C:\\Users\\Nobody\\]\nModified Date=(Not found)");
  wf::ConsolePrint(u"\n\n[Summary for PC01]\nProfiles Enumerated=2\nProfiles Deleted=1\n");
  return 0;
}

// Findings of a pass over made-up computers, all kinds together.
Findings FindingsOver(wf::TargetRunner runner, int computers) {
  std::mt19937 random(20261201);
  Findings all;
  std::set<std::string> seen;
  for (int i = 0; i < computers; ++i) {
    std::vector<uint8_t> input(1 + random() % 3000);
    for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
    for (const std::string& finding : wf::fuzz::RunTargetCase(input.data(), input.size(), runner)) {
      if (seen.insert(finding).second) all.push_back(finding);
    }
  }
  return all;
}

TEST(FuzzChecks, EveryKindOfWrongDeletionIsReported) {
  const Findings findings = FindingsOver(&DeleteEveryProfile, 1000);
  for (const char* kind :
       {": a system account", ": a protected folder", ": an unreachable folder",
        ": its folder does not exist", ": its hive is in use", "days old, minimum",
        ": its hive was written in the future", ": no hive to date it by",
        ": local profile with /R", ": its profile path is not usable", "yes keys and no /y",
        "in a run that must not walk the profiles"}) {
    EXPECT_TRUE(Mentions(findings, kind)) << kind;
  }
}

TEST(FuzzChecks, RemovedEntriesOfFoldersThatExistAreReported) {
  const Findings findings = FindingsOver(&RemoveEveryEntry, 200);
  EXPECT_TRUE(Mentions(findings, ": its folder exists"));
  EXPECT_TRUE(Mentions(findings, ": its profile path is not usable"));
}

TEST(FuzzChecks, ReportsThatClaimWhatDidNotHappenAreCaught) {
  const Findings findings = FindingsOver(&ClaimDeletions, 50);
  EXPECT_TRUE(Mentions(findings, "0 Action= lines"));
  EXPECT_TRUE(Mentions(findings, "Profiles Enumerated=2 but 1 profile blocks"));
  EXPECT_TRUE(Mentions(findings, "Profiles Deleted=1 but 0 entries gone"));
}

}  // namespace
