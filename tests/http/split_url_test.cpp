#include "http/split_url.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace parlex {
namespace {

struct Row {
  std::u16string_view url, scheme, host;
  uint32_t port;
  std::u16string_view path;
};

TEST(SplitUrl, TableRows) {
  const Row rows[] = {
      {u"http://h/resource/staff/image", u"http", u"h", 80, u"/resource/staff/image"},
      {u"https://h/a", u"https", u"h", 443, u"/a"},
      {u"HTTPS://h/a", u"HTTPS", u"h", 80, u"/a"},  // only the exact "https" chooses 443
      {u"h:8080/a/b", u"http", u"h", 8080, u"/a/b"},
      {u"http://h:81", u"http", u"h", 81, u""},
      {u"h", u"http", u"h", 80, u""},
  };
  for (const Row& r : rows) {
    UrlParts p = SplitUrl(r.url);
    SCOPED_TRACE(ToUtf8(r.url));
    EXPECT_EQ(p.scheme, r.scheme);
    EXPECT_EQ(p.host, r.host);
    EXPECT_EQ(p.port, r.port);
    EXPECT_EQ(p.path, r.path);
  }
}

TEST(SplitUrl, PortTextAndOddAuthorities) {
  // Reading the port stops at the first non-digit; no digits give 0.
  EXPECT_EQ(SplitUrl(u"http://h:8x1/p").port, 8u);
  EXPECT_EQ(SplitUrl(u"http://h:/p").port, 0u);
  // Out-of-range ports stay out of range instead of wrapping to a real port.
  EXPECT_EQ(SplitUrl(u"http://h:65535/").port, 65535u);
  EXPECT_EQ(SplitUrl(u"http://h:65616/").port, 65536u);  // would wrap to 80
  EXPECT_EQ(SplitUrl(u"http://h:99999999999999999999/").port, 65536u);
  // A ':' in the authority always introduces the port: no user information.
  UrlParts user = SplitUrl(u"http://u:pw@h/x");
  EXPECT_EQ(user.host, u"u");
  EXPECT_EQ(user.port, 0u);
  // A ':' not followed by '/' is not a scheme separator.
  UrlParts noScheme = SplitUrl(u"127.0.0.1:18380/resource/staff/image");
  EXPECT_EQ(noScheme.scheme, u"http");
  EXPECT_EQ(noScheme.host, u"127.0.0.1");
  EXPECT_EQ(noScheme.port, 18380u);
  EXPECT_EQ(noScheme.path, u"/resource/staff/image");
  // Truncated or empty URLs give empty parts, never a read past the end.
  UrlParts cut = SplitUrl(u"http:/");
  EXPECT_EQ(cut.scheme, u"http");
  EXPECT_EQ(cut.host, u"");
  EXPECT_EQ(cut.path, u"");
  EXPECT_EQ(SplitUrl(u"").host, u"");
  EXPECT_EQ(SplitUrl(u"").port, 80u);
  // Chinese host text passes through untouched.
  EXPECT_EQ(SplitUrl(u"http://例子.测试/路径").host, u"例子.测试");
  EXPECT_EQ(SplitUrl(u"http://例子.测试/路径").path, u"/路径");
}

}  // namespace
}  // namespace parlex
