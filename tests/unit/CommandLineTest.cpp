// The command line as a table: every spelling of every switch that is
// accepted, the forms that are refused, and what the run is then given (the
// settings, the computers in order) and ends with (the exit code). The
// per-computer pass is replaced by one that only records what it was given.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cli/RunControl.h"
#include "platform/Text.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

struct Given {
  RunSettings settings;
  std::vector<std::optional<std::u16string>> computers;  // nullopt: the local computer
};
Given g_given;

// Records the pass it stands for; a computer named FAIL<n> fails with n.
int32_t RecordingPass(Platform&, const RunSettings& settings, const char16_t* computerName) {
  g_given.settings = settings;
  if (computerName == nullptr) {
    g_given.computers.emplace_back(std::nullopt);
    return 0;
  }
  const std::u16string name(computerName);
  g_given.computers.emplace_back(name);
  return name.starts_with(u"FAIL") ? std::stoi(std::string(name.begin() + 4, name.end())) : 0;
}

struct Row {
  std::vector<std::u16string> arguments;
  int32_t exit;
  // What the pass is given; checked only when the run gets that far.
  int32_t age = 30;
  int32_t confirm = 1;
  int32_t roaming = 0;
  int32_t trace = 0;
  std::u16string skip = u"";
  std::vector<std::optional<std::u16string>> computers = {std::nullopt};
};

// An exit of 1 or 87 means the pass never ran.
const Row kRows[] = {
    {{u"/MIN:30"}, 0},
    {{u"/min:30"}, 0},
    {{u"-MIN:30"}, 0},
    {{u"-mIn:30"}, 0},
    {{u"/MIN:0", u"/MIN:30"}, 0},
    {{u"/MIN:30", u"/MIN:0"}, 87},
    {{u"/MIN:123456"}, 0, 12345},
    {{u"/MIN:000030"}, 0, 3},
    {{u"/MIN:30d"}, 0, 30},
    {{u"/MIN:99999"}, 0, 99999},
    {{u"/MIN:1"}, 0, 1},
    {{u"/MIN:0"}, 87},
    {{u"/MIN:-5"}, 87},
    {{u"/MIN:x"}, 87},
    {{u"/MIN:"}, 87},
    {{u"/MIN30"}, 87},
    {{}, 87},
    {{u"/MIN:30", u"/y"}, 0, 30, 0},
    {{u"/MIN:30", u"/Y"}, 0, 30, 0},
    {{u"/MIN:30", u"-y"}, 0, 30, 0},
    {{u"/MIN:30", u"-Y"}, 0, 30, 0},
    {{u"/MIN:30", u"/yes"}, 87},
    {{u"/MIN:30", u"y"}, 87},
    {{u"/MIN:30", u"/r"}, 0, 30, 1, 1},
    {{u"/MIN:30", u"/R"}, 0, 30, 1, 1},
    {{u"/MIN:30", u"-r"}, 0, 30, 1, 1},
    {{u"/MIN:30", u"-R"}, 0, 30, 1, 1},
    {{u"/MIN:30", u"--r"}, 87},
    {{u"/MIN:30", u"/TraceAll"}, 0, 30, 1, 0, 1},
    {{u"/MIN:30", u"-TraceAll"}, 0, 30, 1, 0, 1},
    {{u"/MIN:30", u"/traceall"}, 87},
    {{u"/MIN:30", u"-TRACEALL"}, 87},
    {{u"/MIN:30", u"/SKIP:Admin:Kiosk"}, 0, 30, 1, 0, 0, u"Admin:Kiosk"},
    {{u"/MIN:30", u"/skip:a"}, 0, 30, 1, 0, 0, u"a"},
    // Several lists are joined in command-line order; an empty one adds
    // nothing; a list, or a join, beyond 1023 characters is refused whole.
    {{u"/MIN:30", u"-SKIP:b", u"-Skip:"}, 0, 30, 1, 0, 0, u"b"},
    {{u"/skip:Admin", u"/MIN:30", u"/SKIP:labadmin:Kiosk"},
     0,
     30,
     1,
     0,
     0,
     u"Admin:labadmin:Kiosk"},
    {{u"/MIN:30", u"/SKIP:" + std::u16string(1023, u'n')},
     0,
     30,
     1,
     0,
     0,
     std::u16string(1023, u'n')},
    {{u"/MIN:30", u"/SKIP:" + std::u16string(1024, u'n')}, 87},
    {{u"/MIN:30", u"/SKIP:" + std::u16string(1000, u'n'), u"/SKIP:" + std::u16string(22, u'm')},
     0,
     30,
     1,
     0,
     0,
     std::u16string(1000, u'n') + u":" + std::u16string(22, u'm')},
    {{u"/MIN:30", u"/SKIP:" + std::u16string(1000, u'n'), u"/SKIP:" + std::u16string(23, u'm')},
     87},
    {{u"/MIN:30", u"/SKIP"}, 87},
    {{u"/?"}, 1},
    {{u"-?"}, 1},
    {{u"/MIN:30", u"/?", u"/x"}, 1},
    {{u"/MIN:30", u"/x", u"/?"}, 87},
    {{u"/MIN:30", u"/?x"}, 87},
    // Computers: upper-cased a to z only, unless the name has a dot; in
    // command-line order, a name given twice run twice, the local computer
    // not at all; the exit code is the last failure's.
    {{u"/MIN:30", u"\\\\pc1", u"\\\\pc2.dept", u"\\\\pc1"},
     0,
     30,
     1,
     0,
     0,
     u"",
     {u"PC1", u"pc2.dept", u"PC1"}},
    {{u"/MIN:30", u"\\\\a"}, 0, 30, 1, 0, 0, u"", {u"A"}},
    {{u"/MIN:30", u"\\\\az@[`{\u00e9\u00ff"}, 0, 30, 1, 0, 0, u"", {u"AZ@[`{\u00e9\u00ff"}},
    {{u"/MIN:30", u"\\\\" + std::u16string(300, u'q')},
     0,
     30,
     1,
     0,
     0,
     u"",
     {std::u16string(259, u'Q')}},
    {{u"/MIN:30", u"\\\\FAIL53", u"\\\\OK"}, 53, 30, 1, 0, 0, u"", {u"FAIL53", u"OK"}},
    {{u"/MIN:30", u"\\\\OK", u"\\\\FAIL5"}, 5, 30, 1, 0, 0, u"", {u"OK", u"FAIL5"}},
    {{u"/MIN:30", u"\\\\"}, 87},
    {{u"/MIN:30", u"\\pc1"}, 87},
};

std::string Describe(const std::vector<std::u16string>& arguments) {
  std::string text;
  for (const std::u16string& argument : arguments) {
    text += " ";
    for (const char16_t c : argument.substr(0, 40)) text += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return text;
}

TEST(CommandLine, EverySpellingOfEverySwitch) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(Describe(row.arguments));
    std::vector<const char16_t*> argv = {u"C:\\Tools\\wrenfold.exe"};
    for (const std::u16string& argument : row.arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    g_given = {};
    sim::SimPlatform sim;
    const int32_t exit =
        WrenfoldMain(sim, static_cast<int>(argv.size() - 1), argv.data(), &RecordingPass);
    EXPECT_EQ(exit, row.exit);
    if (row.exit == 1 || row.exit == 87) {
      EXPECT_TRUE(g_given.computers.empty());
      continue;
    }
    EXPECT_EQ(g_given.settings.MinimumAge, row.age);
    EXPECT_EQ(g_given.settings.Confirm, row.confirm);
    EXPECT_EQ(g_given.settings.RoamingOnly, row.roaming);
    EXPECT_EQ(g_given.settings.Trace, row.trace);
    EXPECT_EQ(std::u16string(g_given.settings.SkipNames.Data()), row.skip);
    EXPECT_EQ(g_given.computers, row.computers);
  }
}

// A skip list that would go beyond 1023 characters is refused by the
// argument that made it so, before any computer is touched.
TEST(CommandLine, AnOverflowingSkipListIsRefusedByItsArgument) {
  const std::u16string first = u"/SKIP:" + std::u16string(1000, u'n');
  const std::u16string second = u"-skip:" + std::u16string(23, u'm');
  const char16_t* const argv[] = {u"wrenfold.exe", first.c_str(), u"/MIN:30",
                                  second.c_str(),  u"\\\\PC07",   nullptr};
  g_given = {};
  sim::SimPlatform sim;
  sim.CaptureStandardOutput(false);
  EXPECT_EQ(WrenfoldMain(sim, 5, argv, &RecordingPass), 87);
  EXPECT_TRUE(g_given.computers.empty());
  EXPECT_EQ(sim.StandardOutput(),
            "\r\n\r\nInvalid switch \"-skip:" + std::string(23, 'm') + "\".\r\n");
}

// The program's name on the usage screen is what follows the last backslash
// of the first 260 characters of the command as typed: here nothing, so the
// screen is the usage scenario's with an empty name.
TEST(CommandLine, UsageNamesTheProgramWithinItsFirst260Characters) {
  std::ifstream file(WRENFOLD_SCENARIOS "/frontend/usage.out", std::ios::binary);
  std::string expected{std::istreambuf_iterator<char>(file), {}};
  ASSERT_FALSE(expected.empty());
  for (size_t at; (at = expected.find("wrenfold.exe")) != std::string::npos;) {
    expected.erase(at, 12);
  }
  const std::u16string program = u"C:\\" + std::u16string(256, u'x') + u"\\wrenfold.exe";
  const char16_t* const argv[] = {program.c_str(), u"/?", nullptr};
  sim::SimPlatform sim;
  sim.CaptureStandardOutput(false);
  EXPECT_EQ(WrenfoldMain(sim, 2, argv), 1);
  EXPECT_EQ(sim.StandardOutput(), expected);
}

// Names and paths compare equal when they differ only in the case of the
// letters A to Z: the characters beside them in the code table, and letters
// outside A to Z, must be equal as they are.
TEST(CaseRules, OnlyAToZFold) {
  const struct {
    const char16_t* a;
    const char16_t* b;
    bool equal;
  } kPairs[] = {
      {u"A", u"a", true},
      {u"Z", u"z", true},
      {u"@", u"`", false},
      {u"[", u"{", false},
      {u"\u00c9", u"\u00e9", false},
      {u"\u0130", u"i", false},
      {u"Admin", u"aDMIN", true},
      {u"Admin", u"Admin ", false},
  };
  for (const auto& pair : kPairs) {
    SCOPED_TRACE(static_cast<int>(pair.a[0]));
    EXPECT_EQ(EqualsNoCase(pair.a, pair.b), pair.equal);
    EXPECT_EQ(EqualsNoCase(pair.b, pair.a), pair.equal);
  }
}

}  // namespace
}  // namespace wf
