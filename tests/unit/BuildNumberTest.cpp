// The target's build number, and free space, with the messages they print.
#include <gtest/gtest.h>

#include <string>

#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

constexpr std::u16string_view kVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const std::string kKeyText = "Software\\Microsoft\\Windows NT\\CurrentVersion";

class BuildNumber : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.CaptureStandardOutput(true);
    ConsoleAttach(sim);
    remote = &sim.AddRemote(u"PC07");
  }
  int32_t Query(const char16_t* name, bool trace = false) {
    RunSettings settings;
    settings.Trace = trace ? 1 : 0;
    build = 12345;
    const int32_t status = GetOSBuildNumber(sim, settings, name, &build);
    ConsoleFlush();
    return status;
  }
  std::string QueryFailure(const std::string& what, int status) {
    return "\r\n\r\nFailed to query \"\\\\PC07\\HKLM\\" + kKeyText + "\\CurrentBuildNumber\", " +
           what + (status >= 0 ? " " + std::to_string(status) + " has occurred." : "");
  }

  sim::SimPlatform sim;
  sim::SimComputer* remote = nullptr;
  uint32_t build = 0;
};

TEST_F(BuildNumber, LocalComesFromTheVersionQueryAndPrintsNothing) {
  sim.Local().build = 6002;
  EXPECT_EQ(Query(nullptr, true), 0);
  EXPECT_EQ(build, 6002u);
  EXPECT_EQ(Query(u"", true), 0);
  EXPECT_EQ(sim.StandardOutput(), "");
  EXPECT_EQ(sim.CallCount("RegConnectRegistry"), 0u);
}

TEST_F(BuildNumber, LocalVersionQueryFailureGivesItsLastError) {
  sim.AddFault({"GetVersionEx", 1, sim::FaultPlan::Kind::Status, 5, "", "", 0});
  EXPECT_EQ(Query(nullptr), 5);
  EXPECT_EQ(build, 0u);
}

TEST_F(BuildNumber, RemoteTextIsReadAsAnUnsignedNumber) {
  struct Case {
    std::u16string text;
    uint32_t expected;
  };
  const Case cases[] = {
      {u"7601", 7601}, {u"abc", 0}, {u"  6002", 6002}, {u"99999999999", 4294967295u}, {u"", 0},
  };
  for (const Case& c : cases) {
    remote->SetString(kVersionKey, u"CurrentBuildNumber", c.text, kRegExpandSz);
    EXPECT_EQ(Query(u"PC07"), 0) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(build, c.expected);
  }
  EXPECT_EQ(sim.StandardOutput(), "");
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

TEST_F(BuildNumber, TraceShowsEachStep) {
  remote->SetString(kVersionKey, u"CurrentBuildNumber", u"7601");
  EXPECT_EQ(Query(u"PC07", true), 0);
  EXPECT_EQ(sim.StandardOutput(), "\r\nRegConnectRegistry(PC07) returned 0\r\nRegOpenKeyEx(" +
                                      kKeyText + ") returned 0\r\nCurrentBuildNumber: [7601]");
}

TEST_F(BuildNumber, TextWithoutTerminatorLosesItsLastCharacter) {
  remote->SetString(kVersionKey, u"CurrentBuildNumber", u"76015", kRegSz, false);
  EXPECT_EQ(Query(u"PC07"), 0);
  EXPECT_EQ(build, 7601u);
}

// Fewer than 2 bytes hold no whole character: the text is empty, build 0.
TEST_F(BuildNumber, ValueShorterThanOneCharacterGivesBuildZero) {
  remote->SetValue(kVersionKey, u"CurrentBuildNumber", kRegSz, {'7'});
  EXPECT_EQ(Query(u"PC07"), 0);
  EXPECT_EQ(build, 0u);
  remote->SetValue(kVersionKey, u"CurrentBuildNumber", kRegSz, {'7', 0, '6'});
  EXPECT_EQ(Query(u"PC07"), 0);
  EXPECT_EQ(build, 0u);
}

// Only REG_SZ and REG_EXPAND_SZ are text; a multi-string is not.
TEST_F(BuildNumber, MultiStringIsNotText) {
  remote->SetMultiString(kVersionKey, u"CurrentBuildNumber", {u"7601"});
  EXPECT_EQ(Query(u"PC07"), 13);
  EXPECT_EQ(build, 0u);
  EXPECT_EQ(sim.StandardOutput(),
            "\r\n\r\nFailed to query \"\\\\PC07\\HKLM\\" + kKeyText +
                "\\CurrentBuildNumber\", an invalid registry type (7) was found.");
}

TEST_F(BuildNumber, NumberInsteadOfTextIsInvalidData) {
  remote->SetDword(kVersionKey, u"CurrentBuildNumber", 7601);
  EXPECT_EQ(Query(u"PC07"), 13);
  EXPECT_EQ(build, 0u);
  EXPECT_EQ(sim.StandardOutput(),
            "\r\n\r\nFailed to query \"\\\\PC07\\HKLM\\" + kKeyText +
                "\\CurrentBuildNumber\", an invalid registry type (4) was found.");
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

TEST_F(BuildNumber, MissingOrTooLongValueReportsTheQueryStatus) {
  remote->CreateKey(kVersionKey);
  EXPECT_EQ(Query(u"PC07"), 2);
  remote->SetString(kVersionKey, u"CurrentBuildNumber", std::u16string(261, u'7'));
  EXPECT_EQ(Query(u"PC07"), 234);
  EXPECT_EQ(sim.StandardOutput(),
            QueryFailure("system error", 2) + QueryFailure("system error", 234));
}

TEST_F(BuildNumber, UnreachableComputerAndMissingKey) {
  EXPECT_EQ(Query(u"PC99"), 53);
  remote->remoteRegistryStatus = 5;
  EXPECT_EQ(Query(u"PC07"), 5);
  remote->remoteRegistryStatus = 0;
  EXPECT_EQ(Query(u"PC07", true), 2);  // no CurrentVersion key staged
  EXPECT_EQ(sim.StandardOutput(),
            "\r\n\r\nFailed to open \"\\\\PC99\\PIPE\\winreg\\\", system error 53 has occurred."
            "\r\n\r\nFailed to open \"\\\\PC07\\PIPE\\winreg\\\", system error 5 has occurred."
            "\r\nRegConnectRegistry(PC07) returned 0"
            "\r\nRegOpenKeyEx(" +
                kKeyText + ") returned 2\r\n\r\nFailed to open \"\\\\PC07\\HKLM\\" + kKeyText +
                "\", system error 2 has occurred.");
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

TEST_F(BuildNumber, LateBindingFailureOfTheConnectBecomes1011) {
  sim.AddFault(
      {"RegConnectRegistry", 1, sim::FaultPlan::Kind::ModuleNotFound, 0, "advapi32.dll", "", 0});
  EXPECT_EQ(Query(u"PC07", true), 1011);
  EXPECT_EQ(sim.StandardOutput(),
            "\r\nFailed to find required DLL: advapi32.dll"
            "\r\nException error occurred."
            "\r\nRegConnectRegistry(PC07) returned 1011"
            "\r\n\r\nFailed to open \"\\\\PC07\\PIPE\\winreg\\\", system error 1011 has occurred.");
}

TEST_F(BuildNumber, LateBindingFailureOfTheOpenHasNoTraceLineAndClosesTheConnection) {
  remote->SetString(kVersionKey, u"CurrentBuildNumber", u"7601");
  sim.AddFault({"RegOpenKeyEx", 1, sim::FaultPlan::Kind::ProcNotFound, 0, "advapi32.dll", "", 17});
  EXPECT_EQ(Query(u"PC07", true), 1011);
  EXPECT_EQ(sim.StandardOutput(),
            "\r\nRegConnectRegistry(PC07) returned 0"
            "\r\nFailed to find required function ordinal 17 in advapi32.dll"
            "\r\nException error occurred."
            "\r\n\r\nFailed to open \"\\\\PC07\\HKLM\\" +
                kKeyText + "\", system error 1011 has occurred.");
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

TEST_F(BuildNumber, OtherFaultsPassOnAfterTheConnectionIsClosed) {
  remote->SetString(kVersionKey, u"CurrentBuildNumber", u"7601");
  sim.AddFault({"RegQueryValueEx", 1, sim::FaultPlan::Kind::AccessViolation, 0, "", "", 0});
  RunSettings settings;
  bool passedOn = false;
  const bool completed = RunGuarded(
      sim, [&] { GetOSBuildNumber(sim, settings, u"PC07", &build); },
      [&](const FaultInfo& fault) -> int32_t {
        passedOn = fault.code == kExceptionAccessViolation;
        return kExceptionExecuteHandler;
      });
  EXPECT_FALSE(completed);
  EXPECT_TRUE(passedOn);
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

TEST(FreeSpace, TotalFreeBytesInWholeMegabytes) {
  sim::SimPlatform sim;
  sim.CaptureStandardOutput(true);
  ConsoleAttach(sim);
  sim.Local().AddFolder(u"C:\\Users");
  sim.Local().AddFolder(u"D:\\Profiles");
  sim.Local().SetVolume(u'C', 1572864000, 64000000000);
  sim.Local().SetVolume(u'D', 1048575, 2000000);
  RunSettings settings;
  int64_t megabytes = -1;
  EXPECT_TRUE(GetFreeSpaceMB(sim, settings, u"C:\\Users\\", &megabytes));
  EXPECT_EQ(megabytes, 1500);
  EXPECT_TRUE(GetFreeSpaceMB(sim, settings, u"D:\\Profiles\\", &megabytes));
  EXPECT_EQ(megabytes, 0);
  settings.Trace = 1;
  EXPECT_FALSE(GetFreeSpaceMB(sim, settings, u"Q:\\Users\\", &megabytes));
  EXPECT_EQ(megabytes, 0);
  ConsoleFlush();
  EXPECT_EQ(sim.StandardOutput(), "\r\nGetDiskFreeSpaceEx(Q:\\Users\\) returned 0");
}

}  // namespace
}  // namespace wf
