// The support log's lines: time with zone, level, area, one line whatever
// the text holds, and addresses without what must never be written.
#include "common/support_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace parlex::supportlog {
namespace {

class MemorySink final : public ILogSink {
 public:
  Stamp Now() override { return {2026, 3, 4, 5, 6, 7, 89, -330}; }
  void Append(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

TEST(SupportLog, OneLinePerEventWithTimeZoneLevelAndArea) {
  EXPECT_EQ(
      FormatLine({2026, 12, 9, 1, 35, 12, 345, 480}, Level::kWarning, "update", u"server offers 1.0.1.1"),
      "2026-12-09T01:35:12.345+08:00 WARN update server offers 1.0.1.1\n");
  const std::string line = FormatLine({}, Level::kError, "capture", u"a\r\nb\tc\u2028d 截屏");
  EXPECT_EQ(line, "1970-01-01T00:00:00.000+00:00 ERROR capture a  b c d 截屏\n");
  const std::string longLine = FormatLine({}, Level::kInfo, "x", std::u16string(50000, u'z'));
  EXPECT_LT(longLine.size(), kMaxTextUnits + 64);

  MemorySink sink;
  Info("start", u"before any sink: lost");
  SetSink(&sink);
  Error("tls", u"handshake failed");
  SetSink(nullptr);
  Info("exit", u"after the sink: lost");
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(sink.lines[0],
                               std::regex(R"(2026-03-04T05:06:07\.089-05:30 ERROR tls handshake failed\n)")))
      << sink.lines[0];
}

TEST(SupportLog, AddressesLoseCredentialsQueriesAndFragments) {
  EXPECT_EQ(LoggableUrl(u"http://user:pw@chat.example:8080/embeded?token=abc#x"),
            u"http://chat.example:8080/embeded");
  EXPECT_EQ(LoggableUrl(u"https://chat.example/a@b?x"), u"https://chat.example/a@b");
  EXPECT_EQ(LoggableUrl(u"http://proxy.example"), u"http://proxy.example");
}

TEST(SupportLog, RollsOnlyWhenTheLineWouldPassTheBound) {
  EXPECT_FALSE(NeedsRotation(0, kMaxFileBytes + 10));  // one huge line still goes into an empty file
  EXPECT_FALSE(NeedsRotation(kMaxFileBytes - 10, 10));
  EXPECT_TRUE(NeedsRotation(kMaxFileBytes - 10, 11));
}

}  // namespace
}  // namespace parlex::supportlog
