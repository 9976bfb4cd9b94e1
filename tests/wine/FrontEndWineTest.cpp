// The real wrenfold.exe under Wine: the command line, the usage screen and
// the run's frame, compared byte for byte with what a Windows console
// program writes (every line feed as carriage return and line feed).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WineSession.h"
#include "common/ExpectedOutput.h"

namespace {

using wf::testing::Crlf;
using wf::testing::ProcessResult;
using wf::testing::UsageScreen;
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
  ExpectRun({"/MIN:30", "/x", "/?"}, Crlf("\n\nInvalid switch \"/x\".\n"), 87);
  ExpectRun({"/MIN:30", "/?", "/x"}, UsageScreen("wrenfold.exe"), 1);
}

TEST(FrontEndWine, LocalRunPrintsBannerSettingsAndClosingLines) {
  ExpectRun({"/MIN:30"},
            Crlf("\nWrenfold [Version 1.10]\n"
                 "\n[Settings]"
                 "\nMinimum Age=30 days"
                 "\nSkip Names=\n"
                 "\n\n\nThe command completed successfully."
                 "\n\n"),
            0);
}

}  // namespace
