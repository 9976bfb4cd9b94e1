// Bounded text, the formatter and the readers of numbers and paths: the
// edges that the scenarios do not reach.
#include <gtest/gtest.h>

#include <string>

#include "cli/Arguments.h"
#include "engine/DecimalText.h"
#include "engine/ProfileWalk.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"
#include "platform/Text.h"

namespace wf {
namespace {

TEST(BoundedText, CopiesCutAndAlwaysTerminate) {
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(CopyText(buffer, 4, u"abcdef"), 3u);
  EXPECT_EQ(CopyText(buffer, 4, u"abcdef", 2), 2u);
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_EQ(AppendText(buffer, 4, u"zz"), 3u);
  EXPECT_EQ(std::u16string(buffer), u"abz");
  EXPECT_EQ(CopyText(buffer, 4, nullptr), 0u);
  EXPECT_EQ(buffer[0], 0);
  // Only A to Z fold; a text that ends early does not start with more.
  EXPECT_FALSE(EqualsNoCase(u"\u00C9mile", u"\u00E9mile"));
  EXPECT_FALSE(StartsWithNoCase(u"/MI", u"/MIN:"));
}

TEST(Formatter, ConversionsAndTheCut) {
  char16_t out[128];
  FormatText16(out, 128, u"%s|%S|%I64d|%%", static_cast<const char16_t*>(nullptr), "n\xe9",
               int64_t{-9223372036854775807LL - 1});
  EXPECT_EQ(std::u16string(out), u"(null)|n\u00e9|-9223372036854775808|%");
  FormatText16(out, 6, u"%s%s", u"abc", u"defgh");
  EXPECT_EQ(std::u16string(out), u"abcde");
}

TEST(NumberReading, SignsAndTheFiveCharactersOfAnAge) {
  EXPECT_EQ(ParseMinimumAge(u"000030"), 3);
  EXPECT_EQ(ParseMinimumAge(u" +7x"), 7);
  EXPECT_EQ(ParseMinimumAge(u"\t\r\n9"), 9);
  EXPECT_EQ(ParseMinimumAge(u"-5"), kMinimumAgeNotGiven);
  EXPECT_EQ(ParseDecimalUnsigned(u"-1"), 4294967295u);
  EXPECT_EQ(ParseDecimalUnsigned(u"-99999999999"), 4294967295u);
}

TEST(TargetPath, CutsTheComputerNameAt257) {
  char16_t path[kPathChars] = u"C:\\Users\\Bob";
  const std::u16string name(300, u'N');
  ToTargetPath(path, name.c_str());
  EXPECT_EQ(std::u16string(path), u"\\\\" + std::u16string(257, u'N') + u"\\");
}

// A remote target's own values at the edges no scenario reaches: a lone
// "%" is text, "%%" names no variable the target is known to have, and a
// result beyond 260 characters is not cut.
TEST(TargetPath, RemoteExpansionAtItsEdges) {
  TargetSystemRoot root;
  root.text.Assign(u"E:\\WinNT");
  root.status = 0;
  const auto expand = [&](const std::u16string& source, uint32_t status = 0) {
    PathText expanded;
    EXPECT_EQ(ExpandOnTarget(root, source.c_str(), expanded), status);
    return std::u16string(expanded.Data());
  };
  EXPECT_EQ(expand(u"%WINDIR%\\..%SystemDrive%\\Lab 100%"), u"E:\\WinNT\\..E:\\Lab 100%");
  EXPECT_EQ(expand(u"C:\\a%%b", kErrorEnvvarNotFound), u"");
  EXPECT_EQ(expand(u"%SystemRoot%\\" + std::u16string(251, u'x')),
            u"E:\\WinNT\\" + std::u16string(251, u'x'));
  EXPECT_EQ(expand(u"%SystemRoot%\\" + std::u16string(252, u'x'), kErrorFilenameTooLong), u"");
}

TEST(TargetPath, ASystemRootIsADrivePath) {
  EXPECT_TRUE(IsDrivePath(u"D:\\Windows"));
  EXPECT_TRUE(IsDrivePath(u"z:\\"));
  for (const char16_t* other : {u"", u"D:", u"D:Windows", u"D;\\Windows", u"@:\\Windows",
                                u"[:\\Windows", u"\\\\PC07\\Windows"}) {
    EXPECT_FALSE(IsDrivePath(other)) << static_cast<int>(other[0]);
  }
}

// Only these key names go into a WMI object path: "S-1-", an authority and
// one to 15 sub-authorities of 32 bits, nothing else.
TEST(ProfileInstance, OnlyASidNamesOne) {
  std::u16string longest = u"S-1-5";
  for (int i = 0; i < 15; ++i) longest += u"-4294967295";
  for (const std::u16string& sid : {std::u16string(u"S-1-5-21-7-7-7-1001"), longest}) {
    EXPECT_TRUE(IsSidText(sid.c_str()));
  }
  for (const std::u16string& other :
       {std::u16string(u"S-1-5-21-7-7-7-1001.bak"), std::u16string(u"s-1-5-18"),
        std::u16string(u"S-2-5-18"), std::u16string(u"S-1-"), std::u16string(u"S-1-5"),
        std::u16string(u"S-1-5--18"), std::u16string(u"S-1-5-18-"),
        std::u16string(u"S-1-5-4294967296"),
        std::u16string(u"S-1-5-18\",SID=\"S-1-5-21-7-7-7-1001"), longest + u"-1"}) {
    EXPECT_FALSE(IsSidText(other.c_str()));
  }
}

// Spellings that no scenario uses: separators in a run, a dot that ends a
// segment, a ".." at the root, a segment of dots only, a share's root.
TEST(TargetPath, FoldersForComparisonAreTheFoldersThePathsName) {
  const auto folder = [](const char16_t* path) {
    PathText resolved;
    FolderForComparison(path, resolved);
    return std::u16string(resolved.Data());
  };
  for (const char16_t* same : {u"C:/Users//Public", u"C:\\Users.\\Public", u"C:\\Users\\Public. .",
                               u"C:\\..\\Users\\Public"}) {
    EXPECT_EQ(folder(same), u"C:\\Users\\Public\\");
  }
  EXPECT_EQ(folder(u"C:\\Users\\...\\Bob"), u"C:\\Users\\...\\Bob\\");
  EXPECT_EQ(folder(u"\\\\PC07\\C$\\..\\Users\\Bob."), u"\\\\PC07\\C$\\Users\\Bob\\");
}

}  // namespace
}  // namespace wf
