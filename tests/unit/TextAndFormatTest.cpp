// Bounded text, the formatter and the number readers.
#include <gtest/gtest.h>

#include <string>

#include "cli/Arguments.h"
#include "engine/DecimalText.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"
#include "platform/Text.h"

namespace wf {
namespace {

TEST(BoundedText, CopiesCutAndAlwaysTerminate) {
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(CopyText(buffer, 4, u"abcdef"), 3u);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(CopyText(buffer, 4, u"abcdef", 2), 2u);
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_EQ(AppendText(buffer, 4, u"zz"), 3u);
  EXPECT_EQ(std::u16string(buffer), u"abz");
  EXPECT_EQ(CopyText(buffer, 4, nullptr), 0u);
  EXPECT_EQ(buffer[0], 0);
}

TEST(BoundedText, ComparisonFoldsOnlyAToZ) {
  EXPECT_TRUE(EqualsNoCase(u"C:\\Users\\BOB\\", u"c:\\users\\bob\\"));
  EXPECT_FALSE(EqualsNoCase(u"\u00C9mile", u"\u00E9mile"));  // accented letters stay exact
  EXPECT_FALSE(EqualsNoCase(u"S-1-5-18-1", u"s-1-5-18"));
  EXPECT_TRUE(StartsWithNoCase(u"-min:30", u"-MIN:"));
  EXPECT_FALSE(StartsWithNoCase(u"/MI", u"/MIN:"));
}

TEST(Formatter, EveryConversion) {
  char16_t out[128];
  FormatText16(out, 128, u"%s|%S|%d|%u|%02u|%I64d|%I64u|%%", u"w\u00e9", "n\xe9", -5, 4294967295u,
               7u, int64_t{-9223372036854775807LL - 1}, uint64_t{18446744073709551615ULL});
  EXPECT_EQ(std::u16string(out),
            u"w\u00e9|n\u00e9|-5|4294967295|07|-9223372036854775808|18446744073709551615|%");
  FormatText16(out, 128, u"%u/%02u/%02u %02u:%02u", 2006u, 1u, 9u, 7u, 5u);
  EXPECT_EQ(std::u16string(out), u"2006/01/09 07:05");
  FormatText16(out, 128, u"[%s]", static_cast<const char16_t*>(nullptr));
  EXPECT_EQ(std::u16string(out), u"[(null)]");
  FormatText16(out, 6, u"%s%s", u"abc", u"defgh");
  EXPECT_EQ(std::u16string(out), u"abcde");
}

TEST(NumberReading, MinimumAgeReadsAtMostFiveCharacters) {
  EXPECT_EQ(ParseMinimumAge(u"30"), 30);
  EXPECT_EQ(ParseMinimumAge(u"123456"), 12345);
  EXPECT_EQ(ParseMinimumAge(u"000030"), 3);
  EXPECT_EQ(ParseMinimumAge(u"  +7x"), 7);
  EXPECT_EQ(ParseMinimumAge(u"0"), kMinimumAgeNotGiven);
  EXPECT_EQ(ParseMinimumAge(u"-5"), kMinimumAgeNotGiven);
  EXPECT_EQ(ParseMinimumAge(u"x"), kMinimumAgeNotGiven);
  EXPECT_EQ(ParseMinimumAge(u""), kMinimumAgeNotGiven);
}

TEST(NumberReading, UnsignedSaturatesBeyond32Bits) {
  EXPECT_EQ(ParseDecimalUnsigned(u"7601"), 7601u);
  EXPECT_EQ(ParseDecimalUnsigned(u"  6002"), 6002u);
  EXPECT_EQ(ParseDecimalUnsigned(u"abc"), 0u);
  EXPECT_EQ(ParseDecimalUnsigned(u"4294967295"), 4294967295u);
  EXPECT_EQ(ParseDecimalUnsigned(u"99999999999"), 4294967295u);
  EXPECT_EQ(ParseDecimalUnsigned(u"4294967296"), 4294967295u);
  EXPECT_EQ(ParseDecimalUnsigned(u"-1"), 4294967295u);
}

std::u16string Target(const std::u16string& path, const char16_t* computer) {
  char16_t buffer[kPathChars] = {};
  CopyText(buffer, kPathChars, path.c_str());
  ToTargetPath(buffer, computer);
  return buffer;
}

TEST(TargetPath, CutsAt260AndTheComputerNameAt257) {
  const std::u16string longName(300, u'N');
  const std::u16string result = Target(u"C:\\Users\\Bob", longName.c_str());
  EXPECT_EQ(result.size(), 260u);
  EXPECT_EQ(result.substr(0, 259), u"\\\\" + std::u16string(257, u'N'));
  EXPECT_EQ(result[259], u'\\');

  const std::u16string deep = u"C:\\" + std::u16string(270, u'a');
  EXPECT_EQ(Target(deep, u"PC07").size(), 260u);
}

// Two spellings of one folder compare equal once resolved as Win32 resolves
// them; the root is never climbed above.
TEST(TargetPath, FoldersForComparisonAreTheFoldersThePathsName) {
  const auto folder = [](const char16_t* path) {
    PathText resolved;
    FolderForComparison(path, resolved);
    return std::u16string(resolved.Data());
  };
  const std::u16string users = u"C:\\Users\\Public\\";
  for (const char16_t* same :
       {u"C:\\Users\\Public", u"C:\\Users\\Public\\\\", u"C:/Users//Public/",
        u"C:\\Users\\.\\Public", u"C:\\Users\\x\\..\\Public", u"C:\\Users.\\Public",
        u"C:\\Users\\Public. .", u"C:\\..\\Users\\Public"}) {
    EXPECT_EQ(folder(same), users) << std::u16string(same).size();
  }
  EXPECT_EQ(folder(u"C:\\Users\\ "), u"C:\\Users\\");
  EXPECT_EQ(folder(u"C:\\Users\\...\\Bob"), u"C:\\Users\\...\\Bob\\");
  EXPECT_EQ(folder(u"\\\\PC07\\C$\\..\\Users\\Bob."), u"\\\\PC07\\C$\\Users\\Bob\\");
  EXPECT_EQ(folder(u"C:\\Users\\Bob "), u"C:\\Users\\Bob\\");
}

}  // namespace
}  // namespace wf
