// The tests that decide a profile's fate, each through its own function over
// a simulated computer, with the exact bytes they print.
#include <gtest/gtest.h>

#include <string>

#include "engine/ProfileTests.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

constexpr const char16_t* kUserSid = u"S-1-5-21-1-1-1-1001";
constexpr const char16_t* kHive = u"C:\\Users\\Bob\\NTUSER.DAT";
constexpr uint64_t kMinute = sim::kTicksPerMinute;
constexpr uint64_t kHour = 60 * kMinute;
constexpr uint64_t kDay = sim::kTicksPerDay;

class ProfileTests : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.CaptureStandardOutput(true);
    ConsoleAttach(sim);
    context.ProfilesDirectory.Assign(u"C:\\Users\\");
    context.AllUsersProfile.Assign(u"C:\\Users\\Public\\");
    context.DefaultUserProfile.Assign(u"C:\\Users\\Default\\");
    settings.MinimumAge = 30;
  }

  // What the tests printed since the last call.
  std::string Output() {
    ConsoleFlush();
    const std::string& all = sim.StandardOutput();
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    return fresh;
  }

  bool Skipped(const char16_t* folder, const char16_t* sid = kUserSid) {
    return IsSkippedProfile(settings, context, folder, sid);
  }
  void SkipNames(const char16_t* names) { settings.SkipNames.Assign(names); }

  // Bob's hive, last written `age` ticks before now.
  void HiveWritten(uint64_t age) {
    sim::SimFile* hive = sim.Local().FindFile(kHive);
    if (hive == nullptr) hive = &sim.Local().AddFile(kHive);
    hive->lastWriteTime = sim.Now() - age;
  }
  bool Old() { return ThisProfileIsOld(sim, settings, kHive); }

  sim::SimPlatform sim;
  RunSettings settings;
  TargetContext context;

 private:
  size_t seen_ = 0;
};

// --- IsSkippedProfile ----------------------------------------------------------

TEST_F(ProfileTests, SpecialFoldersAreProtectedWhateverTheSidAndSkipNames) {
  settings.Trace = 1;
  SkipNames(u"Nobody");
  for (const char16_t* folder : {u"C:\\Users\\Public\\", u"c:\\users\\PUBLIC",
                                 u"C:\\USERS\\default\\\\\\", u"C:\\Users", u"c:\\users\\"}) {
    EXPECT_TRUE(Skipped(folder)) << sim::ToUtf8(folder);
  }
  // Neither the special folders nor the SIDs print a trace line.
  EXPECT_EQ(Output(), "");
  EXPECT_FALSE(Skipped(u"C:\\Users\\Publi\\"));
  EXPECT_FALSE(Skipped(u"C:\\Users\\Public\\Bob\\"));
  EXPECT_EQ(Output(),
            "\r\nChecking name: [C:\\Users\\Nobody\\]\r\nChecking name: [C:\\Users\\Nobody\\]");
}

TEST_F(ProfileTests, OnlyTheLettersAToZIgnoreCase) {
  context.ProfilesDirectory.Assign(u"C:\\Benutzer\\");
  context.AllUsersProfile.Assign(u"C:\\Benutzer\\\u00d6ffentlich\\");
  EXPECT_TRUE(Skipped(u"C:\\BENUTZER\\\u00d6FFENTLICH\\"));
  EXPECT_FALSE(Skipped(u"C:\\Benutzer\\\u00f6ffentlich\\"));
  SkipNames(u"\u00c9mile");
  EXPECT_TRUE(Skipped(u"c:\\benutzer\\\u00c9MILE\\"));
  EXPECT_FALSE(Skipped(u"C:\\Benutzer\\\u00e9mile\\"));
}

TEST_F(ProfileTests, WellKnownSidsAreProtectedWholeAndInAnyCase) {
  settings.Trace = 1;
  for (const char16_t* sid : {u"S-1-5-18", u"s-1-5-18", u"S-1-5-19", u"s-1-5-20"}) {
    EXPECT_TRUE(Skipped(u"C:\\Users\\Bob\\", sid)) << sim::ToUtf8(sid);
  }
  for (const char16_t* sid : {u"S-1-5-18-1", u"S-1-5-1", u"S-1-5-2", u"", kUserSid}) {
    EXPECT_FALSE(Skipped(u"C:\\Users\\Bob\\", sid)) << sim::ToUtf8(sid);
  }
  EXPECT_EQ(Output(), "");
}

TEST_F(ProfileTests, EmptyNamesAreNeverTested) {
  settings.Trace = 1;
  for (const char16_t* names : {u"", u":", u":::"}) {
    SkipNames(names);
    EXPECT_FALSE(Skipped(u"C:\\Users\\Bob\\"));
    EXPECT_FALSE(Skipped(u"C:\\Users\\Admin\\"));
  }
  EXPECT_EQ(Output(), "");
}

TEST_F(ProfileTests, NamesAreTestedInListOrderUntilTheFirstMatch) {
  settings.Trace = 1;
  SkipNames(u"Admin::Guest:");
  EXPECT_TRUE(Skipped(u"C:\\Users\\Admin\\"));
  EXPECT_EQ(Output(), "\r\nChecking name: [C:\\Users\\Admin\\]");
  EXPECT_TRUE(Skipped(u"c:\\users\\GUEST"));
  EXPECT_EQ(Output(),
            "\r\nChecking name: [C:\\Users\\Admin\\]\r\nChecking name: [C:\\Users\\Guest\\]");
  EXPECT_FALSE(Skipped(u"C:\\Users\\Bob\\"));
  EXPECT_EQ(Output(),
            "\r\nChecking name: [C:\\Users\\Admin\\]\r\nChecking name: [C:\\Users\\Guest\\]");
  // Every profile is tested against the whole list: the setting is untouched.
  EXPECT_EQ(std::u16string(settings.SkipNames.Data()), u"Admin::Guest:");
}

TEST_F(ProfileTests, NamesAreJoinedUnderTheProfilesDirectoryAsWritten) {
  SkipNames(u"Admin\\");
  EXPECT_TRUE(Skipped(u"C:\\Users\\Admin\\"));
  SkipNames(u"Old\\Bob");
  EXPECT_TRUE(Skipped(u"C:\\Users\\Old\\Bob\\"));
  EXPECT_FALSE(Skipped(u"C:\\Users\\Bob\\"));
  // A leading space belongs to the name; a trailing one names the same
  // folder, as Win32 drops it.
  SkipNames(u" Admin");
  EXPECT_FALSE(Skipped(u"C:\\Users\\Admin\\"));
  SkipNames(u"Admin ");
  EXPECT_TRUE(Skipped(u"C:\\Users\\Admin\\"));
  // A full path is joined under the profiles directory like any name.
  SkipNames(u"C:\\Users\\Admin");
  EXPECT_FALSE(Skipped(u"C:\\Users\\Admin\\"));
  SkipNames(u"Bob");
  EXPECT_FALSE(Skipped(u"D:\\Bob\\"));
}

TEST_F(ProfileTests, AJoinLongerThanAPathMatchesNothingAndPrintsNothing) {
  settings.Trace = 1;
  // "C:\Users\" and 250 letters and a backslash: 260 characters, the most a
  // path holds.
  const std::u16string longest = std::u16string(250, u'x') + u"\\";
  const std::u16string folder = u"C:\\Users\\" + longest;
  SkipNames(longest.c_str());
  EXPECT_TRUE(Skipped(folder.c_str()));
  EXPECT_EQ(Output(), "\r\nChecking name: [" + sim::ToUtf8(folder) + "]");
  // One character more must not be cut back to a match.
  SkipNames((std::u16string(250, u'x') + u"\\y").c_str());
  EXPECT_FALSE(Skipped(folder.c_str()));
  SkipNames((std::u16string(252, u'x')).c_str());
  EXPECT_FALSE(Skipped(folder.c_str()));
  EXPECT_EQ(Output(), "");
}

// --- LookUpFolder and FolderExists ---------------------------------------------

TEST_F(ProfileTests, ADirectoryExistsAndItsSearchIsClosed) {
  settings.Trace = 1;
  sim.Local().AddFolder(u"C:\\Users\\Bob");
  const FolderLookup lookup = LookUpFolder(sim, settings, u"C:\\Users\\Bob\\\\\\");
  EXPECT_EQ(lookup.state, FolderState::Exists);
  EXPECT_EQ(lookup.error, 0u);
  EXPECT_TRUE(FolderExists(sim, settings, u"c:\\users\\bob\\"));
  EXPECT_EQ(Output(),
            "\r\nFindFirstFile(C:\\Users\\Bob) returned 0, handle=128"
            "\r\nFindFirstFile(c:\\users\\bob) returned 0, handle=128");
  EXPECT_EQ(sim.OpenFileHandles(), 0u);
}

TEST_F(ProfileTests, APlainFileOrNothingAtAllIsMissing) {
  settings.Trace = 1;
  sim.Local().AddFile(u"C:\\Users\\Plain");
  struct Case {
    const char16_t* folder;
    uint32_t error;
  };
  for (const Case& c : {Case{u"C:\\Users\\Plain\\", 0}, Case{u"C:\\Users\\Nobody\\", 2},
                        Case{u"C:\\Nowhere\\Bob\\", 3}, Case{u"\\\\\\", 3}}) {
    const FolderLookup lookup = LookUpFolder(sim, settings, c.folder);
    EXPECT_EQ(lookup.state, FolderState::Missing) << sim::ToUtf8(c.folder);
    EXPECT_EQ(lookup.error, c.error) << sim::ToUtf8(c.folder);
    EXPECT_FALSE(FolderExists(sim, settings, c.folder));
  }
  std::string expected;
  for (const char* line :
       {"C:\\Users\\Plain) returned 0, handle=128", "C:\\Users\\Nobody) returned 2, handle=-1",
        "C:\\Nowhere\\Bob) returned 3, handle=-1", ") returned 3, handle=-1"}) {
    // LookUpFolder and FolderExists each search once.
    expected += std::string("\r\nFindFirstFile(") + line + "\r\nFindFirstFile(" + line;
  }
  EXPECT_EQ(Output(), expected);
  EXPECT_EQ(sim.OpenFileHandles(), 0u);
}

TEST_F(ProfileTests, AFolderThatCannotBeReachedIsNotMissing) {
  sim::SimComputer& remote = sim.AddRemote(u"PC07");
  remote.AddFolder(u"C:\\Users\\Bob");
  for (uint32_t status : {53u, 5u, 1326u}) {
    remote.SetShare(u'C', status);
    const FolderLookup lookup = LookUpFolder(sim, settings, u"\\\\PC07\\C$\\Users\\Bob\\");
    EXPECT_EQ(lookup.state, FolderState::Unreachable);
    EXPECT_EQ(lookup.error, status);
    EXPECT_FALSE(FolderExists(sim, settings, u"\\\\PC07\\C$\\Users\\Bob\\"));
  }
  remote.SetShare(u'C', 0);
  EXPECT_TRUE(FolderExists(sim, settings, u"\\\\PC07\\C$\\Users\\Bob\\"));

  // A folder that refuses access is listed in its parent, but nothing below
  // it can be looked up.
  sim.Local().AddFolder(u"C:\\Users\\Locked\\Bob");
  sim.Local().FindFile(u"C:\\Users\\Locked")->denyAccess = true;
  EXPECT_TRUE(FolderExists(sim, settings, u"C:\\Users\\Locked\\"));
  const FolderLookup below = LookUpFolder(sim, settings, u"C:\\Users\\Locked\\Bob\\");
  EXPECT_EQ(below.state, FolderState::Unreachable);
  EXPECT_EQ(below.error, 5u);
  EXPECT_EQ(Output(), "");
}

// --- IsProfileInUse ---------------------------------------------------------------

TEST_F(ProfileTests, OnlyASharingViolationMeansInUse) {
  settings.Trace = 1;
  sim.Local().AddFile(u"C:\\Users\\Busy\\NTUSER.DAT").heldOpen = true;
  sim.Local().AddFile(u"C:\\Users\\Free\\NTUSER.DAT");
  sim.Local().AddFile(u"C:\\Users\\Locked\\NTUSER.DAT").denyAccess = true;
  EXPECT_TRUE(IsProfileInUse(sim, settings, u"C:\\Users\\Busy\\NTUSER.DAT"));
  EXPECT_EQ(Output(), "\r\nCreateFile(C:\\Users\\Busy\\NTUSER.DAT) returned 32, handle=-1");
  EXPECT_FALSE(IsProfileInUse(sim, settings, u"C:\\Users\\Free\\NTUSER.DAT"));
  EXPECT_EQ(Output(), "\r\nCreateFile(C:\\Users\\Free\\NTUSER.DAT) returned 0, handle=128");
  // The free hive was closed at once: nobody holds it now.
  EXPECT_EQ(sim.OpenFileHandles(), 0u);
  EXPECT_FALSE(IsProfileInUse(sim, settings, u"C:\\Users\\Free\\NTUSER.DAT"));
  EXPECT_FALSE(IsProfileInUse(sim, settings, u"C:\\Users\\Gone\\NTUSER.DAT"));
  EXPECT_FALSE(IsProfileInUse(sim, settings, u"C:\\Users\\Locked\\NTUSER.DAT"));
  EXPECT_EQ(Output(),
            "\r\nCreateFile(C:\\Users\\Free\\NTUSER.DAT) returned 0, handle=128"
            "\r\nCreateFile(C:\\Users\\Gone\\NTUSER.DAT) returned 3, handle=-1"
            "\r\nCreateFile(C:\\Users\\Locked\\NTUSER.DAT) returned 5, handle=-1");
  EXPECT_EQ(sim.OpenFileHandles(), 0u);
}

// --- ThisProfileIsOld ---------------------------------------------------------------

TEST_F(ProfileTests, AFaultInsideTheAgeTestIsCaughtByItsOwnGuard) {
  HiveWritten(40 * kDay);
  struct Case {
    const char* call;
    uint32_t occurrence;
    const char* lines;
  };
  const Case cases[] = {
      {"FindFirstFile", 1, ""},
      {"FileTimeToSystemTime", 1, ""},
      {"FileTimeToLocalFileTime", 2, "\r\nModified Date=2026/10/22 12:00"},
  };
  for (const Case& c : cases) {
    sim::SimPlatform faulty;
    faulty.CaptureStandardOutput(true);
    ConsoleAttach(faulty);
    faulty.Local().AddFile(kHive, sim.Now() - 40 * kDay);
    faulty.AddFault(
        sim::FaultPlan::Exception(c.call, c.occurrence, sim::FaultPlan::Kind::AccessViolation));
    bool outerAsked = false;
    bool old = true;
    const bool completed = RunGuarded(
        faulty, [&] { old = ThisProfileIsOld(faulty, settings, kHive); },
        [&](const FaultInfo&) -> int32_t {
          outerAsked = true;
          return kExceptionExecuteHandler;
        });
    ConsoleFlush();
    EXPECT_TRUE(completed) << c.call;
    EXPECT_FALSE(outerAsked) << c.call;
    EXPECT_FALSE(old) << c.call;
    EXPECT_EQ(
        faulty.StandardOutput(),
        std::string(c.lines) + "\r\nFailed during ThisProfileIsOld(), exception error occurred.");
    EXPECT_EQ(faulty.OpenFileHandles(), 0u) << c.call;
  }
}

}  // namespace
}  // namespace wf
