#include "update/version_text.h"

#include <gtest/gtest.h>

#include "update/auto_updater.h"

namespace parlex::update {
namespace {

TEST(OwnVersionText, FourNumbersTwoNumbersOrNone) {
  EXPECT_EQ(OwnVersionText({1, 0, 1, 0}), u"1.0.1.0");
  EXPECT_EQ(OwnVersionText({0, 0, 0, 5}), u"0.0.0.5");
  EXPECT_EQ(OwnVersionText({65535, 65535, 65535, 65535}), u"65535.65535.65535.65535");
  // Without build and revision only major and minor are written.
  EXPECT_EQ(OwnVersionText({1, 2, 0, 0}), u"1.2");
  EXPECT_EQ(OwnVersionText({0, 3, 0, 0}), u"0.3");
  // 0.0.0.0 is no version at all.
  EXPECT_EQ(OwnVersionText({0, 0, 0, 0}), u"");
}

TEST(IsDigitText, OnlyAsciiDigits) {
  EXPECT_TRUE(IsDigitText(u"0123456789"));
  EXPECT_TRUE(IsDigitText(u""));
  EXPECT_FALSE(IsDigitText(u"1\r\n"));
  EXPECT_FALSE(IsDigitText(u"-1"));
  EXPECT_FALSE(IsDigitText(u"1 "));
  EXPECT_FALSE(IsDigitText(u"１"));  // fullwidth digit one
  EXPECT_FALSE(IsDigitText(u"/"));   // the units just below and above the digits
  EXPECT_FALSE(IsDigitText(u":"));
}

TEST(CompareVersionText, NumbersNotTexts) {
  EXPECT_EQ(CompareVersionText(u"1.0.1.1", u"1.0.1.0"), 1);
  EXPECT_EQ(CompareVersionText(u"1.0.1.0", u"1.0.1.0"), 0);
  EXPECT_EQ(CompareVersionText(u"1.0.0.9", u"1.0.1.0"), -1);
  EXPECT_EQ(CompareVersionText(u"1.10", u"1.9"), 1);
  EXPECT_EQ(CompareVersionText(u"1.9", u"1.10"), -1);
  EXPECT_EQ(CompareVersionText(u"01.002", u"1.2"), 0);
  // Earlier groups decide before later ones.
  EXPECT_EQ(CompareVersionText(u"2.0.0.0", u"1.9.9.9"), 1);
  EXPECT_EQ(CompareVersionText(u"1.0.0.65536", u"1.0.1.0"), -1);
}

TEST(CompareVersionText, MissingGroupsAreZero) {
  EXPECT_EQ(CompareVersionText(u"2", u"1.0.1.0"), 1);
  EXPECT_EQ(CompareVersionText(u"1", u"1.0.0.0"), 0);
  EXPECT_EQ(CompareVersionText(u"1.2", u"1.2.0.0"), 0);
  EXPECT_EQ(CompareVersionText(u"1.0.1", u"1.0.1.0"), 0);
}

TEST(CompareVersionText, EmptyGroupsAreSkipped) {
  EXPECT_EQ(CompareVersionText(u"1..2", u"1.2.0.0"), 0);
  EXPECT_EQ(CompareVersionText(u".1.2.", u"1.2"), 0);
  EXPECT_EQ(CompareVersionText(u"1.0...1.0", u"1.0.1.0"), 0);
  // Skipped groups do not count towards the four.
  EXPECT_EQ(CompareVersionText(u"1..0..1..1", u"1.0.1.0"), 1);
}

TEST(CompareVersionText, LargeGroupsSaturate) {
  EXPECT_EQ(CompareVersionText(u"2147483647", u"2147483647"), 0);
  EXPECT_EQ(CompareVersionText(u"2147483648", u"2147483647"), 0);
  EXPECT_EQ(CompareVersionText(u"99999999999999999999999", u"2147483647"), 0);
  EXPECT_EQ(CompareVersionText(u"1.99999999999", u"1.2147483646"), 1);
  EXPECT_EQ(CompareVersionText(u"2147483646", u"99999999999"), -1);
}

TEST(CompareVersionText, InvalidTexts) {
  // a is checked first: -21 even when b is invalid too.
  EXPECT_EQ(CompareVersionText(u"", u"1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"...", u"1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"1.0.0.0.1", u"1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"1.0.1.1\r\n", u"1.0.1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"1.0.1.1 ", u"1.0.1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"v1.0", u"1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"-1", u"1.0"), -21);
  EXPECT_EQ(CompareVersionText(u"x", u"y"), -21);
  EXPECT_EQ(CompareVersionText(u"1.0", u""), -22);
  EXPECT_EQ(CompareVersionText(u"1.0", u"1.2.3.4.5"), -22);
  EXPECT_EQ(CompareVersionText(u"1.0", u"1,0"), -22);
}

TEST(BackupPath, StemInOwnDirectory) {
  EXPECT_EQ(BackupPath(u"D:\\Apps\\Parlex.exe", u'\\'), u"D:\\Apps\\Parlex.旧版本");
  EXPECT_EQ(BackupPath(u"D:\\Apps\\Chat.exe", u'\\'), u"D:\\Apps\\Chat.旧版本");
  // Only the last extension goes.
  EXPECT_EQ(BackupPath(u"D:\\Apps\\parlex.v2.exe", u'\\'), u"D:\\Apps\\parlex.v2.旧版本");
  // Without a '.' in the name the stem is empty, even when the directory has one.
  EXPECT_EQ(BackupPath(u"D:\\Apps\\Parlex", u'\\'), u"D:\\Apps\\.旧版本");
  EXPECT_EQ(BackupPath(u"D:\\my.apps\\Parlex", u'\\'), u"D:\\my.apps\\.旧版本");
  EXPECT_EQ(BackupPath(u"/opt/parlex/parlex", u'/'), u"/opt/parlex/.旧版本");
  EXPECT_EQ(BackupPath(u"/opt/parlex/parlex.bin", u'/'), u"/opt/parlex/parlex.旧版本");
  // The other platform's separator is just part of a name.
  EXPECT_EQ(BackupPath(u"/opt/a\\b.exe", u'/'), u"/opt/a\\b.旧版本");
}

TEST(SplitExecutablePath, DirectoryNameStem) {
  ExecutablePathParts p = SplitExecutablePath(u"C:\\A\\Chat.exe", u'\\');
  EXPECT_EQ(p.directory, u"C:\\A");
  EXPECT_EQ(p.name, u"Chat.exe");
  EXPECT_EQ(p.stem, u"Chat");
  p = SplitExecutablePath(u"Chat.exe", u'\\');
  EXPECT_EQ(p.directory, u"");
  EXPECT_EQ(p.name, u"Chat.exe");
}

TEST(DownloadProgress, TextAndBar) {
  EXPECT_EQ(DownloadProgressText(4096, 10000), u"已下载 4096 / 10000 字节");
  EXPECT_EQ(DownloadProgressText(0, 0), u"已下载 0 / 0 字节");
  EXPECT_EQ(DownloadProgressText(5000000000LL, -1), u"已下载 5000000000 字节");
  EXPECT_EQ(DownloadProgressPermille(0, 10000), 0);
  EXPECT_EQ(DownloadProgressPermille(4096, 10000), 409);
  EXPECT_EQ(DownloadProgressPermille(10000, 10000), 1000);
  EXPECT_EQ(DownloadProgressPermille(3000000000LL, 6000000000LL), 500);
  EXPECT_EQ(DownloadProgressPermille(10, -1), -1);
}

}  // namespace
}  // namespace parlex::update
