// The real wrenfold.exe under Wine: the command line, the usage screen and
// the run's frame, compared byte for byte with what a Windows console
// program writes (every line feed as carriage return and line feed).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WineSession.h"

namespace {

using wf::testing::ProcessResult;
using wf::testing::WinePrefix;

const char* const kExe = WRENFOLD_WINE_EXE;

// One Wine prefix for the whole test program: the first start of a new
// prefix takes most of a minute.
WinePrefix* gPrefix = nullptr;

class WineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static WinePrefix prefix;
    std::string error;
    ASSERT_TRUE(prefix.Create(&error)) << error;
    gPrefix = &prefix;
  }
  void TearDown() override {
    if (gPrefix != nullptr) gPrefix->Destroy();
    gPrefix = nullptr;
  }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);

std::string WithCrLf(const std::string& text) {
  std::string bytes;
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

// The usage screen for the program name the command finds in its first
// argument.
std::string UsageScreen(const std::string& program) {
  const std::string text =
      "\nWrenfold [Version 1.10]"
      "\n"
      "\nDeletes user profiles, based on the number of days since they were last used."
      "\n"
      "\nProfiles are enumerated from the registry under "
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
      " and then the modified date of each profile's NTUSER.DAT (the HKCU hive) is used to "
      "determine the age of each profile."
      "  Profiles for these accounts are always skipped: "
      "\n\tDefault (Default User)"
      "\n\tPublic (All Users)"
      "\n\tSYSTEM (S-1-5-18)"
      "\n\tLocalService (S-1-5-19)"
      "\n\tNetworkService (S-1-5-20)"
      "\n"
      "\nThe syntax of this command is:"
      "\n"
      "\n" +
      program +
      " /min:# [/y] [/r] [/skip:name1:name2:...] [\\\\computername ...]"
      "\n"
      "\n /MIN:\tSpecifies the number of days used to decide if a profile is old."
      "\n /Y\tDeletes the profiles without the confirmation prompts. (Optional)"
      "\n /R\tDeletes only roaming profiles, local profiles are skipped. (Optional)"
      "\n /SKIP:\tPrevents specific folder names from being deleted, regardless of their "
      "\n\tage. Separate each name with a colon. (Optional)"
      "\n \\\\computername\tSpecifies one or more remote systems to query. (Optional)"
      "\n"
      "\nExamples:"
      "\n  " +
      program +
      " /min:30"
      "\n  " +
      program +
      " /min:60 /skip:Administrator:Admin:User1:User2.DOMAIN"
      "\n  " +
      program +
      " /min:90 \\\\computer1 \\\\computer2 \\\\computer3"
      "\n"
      "\n"
      "\nAn argument of /? or -? displays this syntax and always returns 1."
      "\nA successful completion will return 0."
      "\n"
      "\n";
  return WithCrLf(text);
}

ProcessResult Run(const std::vector<std::string>& arguments) {
  return gPrefix->Run(kExe, arguments);
}

void ExpectRun(const std::vector<std::string>& arguments, const std::string& output, int exitCode) {
  ASSERT_NE(gPrefix, nullptr);
  const ProcessResult result = Run(arguments);
  ASSERT_TRUE(result.started) << "wine could not be started";
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.output, output);
  EXPECT_EQ(result.exitCode, exitCode);
}

// Started as `wine <path>`, the first argument is the DOS form of the path;
// the usage screen names the program by the part after the last backslash.
TEST(FrontEndWine, HelpSwitchShowsUsageAndReturnsOne) {
  ExpectRun({"/?"}, UsageScreen("wrenfold.exe"), 1);
  ExpectRun({"-?"}, UsageScreen("wrenfold.exe"), 1);
}

TEST(FrontEndWine, NoArgumentsShowUsageAndReturnInvalidParameter) {
  ExpectRun({}, UsageScreen("wrenfold.exe"), 87);
  ExpectRun({"/MIN:0"}, UsageScreen("wrenfold.exe"), 87);
}

// The arguments are read in order: whichever of an unknown switch and the
// help switch comes first decides.
TEST(FrontEndWine, FirstOfUnknownSwitchAndHelpDecides) {
  ExpectRun({"/MIN:30", "/x", "/?"}, WithCrLf("\n\nInvalid switch \"/x\".\n"), 87);
  ExpectRun({"/MIN:30", "/?", "/x"}, UsageScreen("wrenfold.exe"), 1);
}

TEST(FrontEndWine, LocalRunPrintsBannerSettingsAndClosingLines) {
  ExpectRun({"/MIN:30"},
            WithCrLf("\nWrenfold [Version 1.10]\n"
                     "\n[Settings]"
                     "\nMinimum Age=30 days"
                     "\nSkip Names=\n"
                     "\n\n\nThe command completed successfully."
                     "\n\n"),
            0);
}

}  // namespace
