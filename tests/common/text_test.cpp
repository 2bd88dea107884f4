#include "common/text.h"

#include <gtest/gtest.h>

namespace parlex {
namespace {

TEST(Utf8, RoundTripsChineseAndAstralCharacters) {
  std::u16string text = u"Ostrel登录程序 \U0001F600 end";
  std::string bytes = ToUtf8(text);
  EXPECT_EQ(bytes, "Ostrel\xE7\x99\xBB\xE5\xBD\x95\xE7\xA8\x8B\xE5\xBA\x8F \xF0\x9F\x98\x80 end");
  EXPECT_EQ(FromUtf8(bytes), text);
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(FromUtf8("a\xE7\x99"), u"a\uFFFD\uFFFD");                      // truncated sequence
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");                        // overlong '/'
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");              // encoded surrogate
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(Cutting, NeverSplitsASurrogatePairOrAUtf8Sequence) {
  std::u16string pair = u"ab\U0001F600";
  EXPECT_EQ(CutAtUnits(pair, 3), u"ab");
  EXPECT_EQ(CutAtUnits(pair, 4), pair);
  std::string zh = "\xE7\x99\xBB\xE5\xBD\x95";  // two three-byte characters
  EXPECT_EQ(CutUtf8AtBytes(zh, 5), "\xE7\x99\xBB");
  EXPECT_EQ(CutUtf8AtBytes(zh, 6), zh);
  EXPECT_EQ(CutUtf8AtBytes(zh, 2), "");
  EXPECT_EQ(CutUtf8AtBytes("abc", 2), "ab");
}

TEST(Decimal, FormatsLikePercentD) {
  EXPECT_EQ(FormatDecimal(0), u"0");
  EXPECT_EQ(FormatDecimal(-5), u"-5");
  EXPECT_EQ(FormatDecimal(2147483647), u"2147483647");
  EXPECT_EQ(FormatDecimal(-2147483647 - 1), u"-2147483648");
}

}  // namespace
}  // namespace parlex
