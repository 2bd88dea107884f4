// Which proxy a request takes, read from the environment as desktop Linux
// programs read it.
#include "net/posix/proxy_settings.h"

#include <gtest/gtest.h>

#include <map>

namespace parlex {
namespace {

ProxyDecision Choose(const std::map<std::string, std::string>& env, bool secure, std::string_view host,
                     uint16_t port = 80) {
  return ChooseProxy(secure, host, port, [&](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

TEST(ProxySettings, VariablesPerSchemeLowerCaseFirst) {
  std::map<std::string, std::string> env = {{"http_proxy", "http://lower:3128"},
                                            {"HTTP_PROXY", "http://upper:3128"},
                                            {"HTTPS_PROXY", "secure.corp:8443/"}};
  ProxyDecision d = Choose(env, false, "chat.example.com");
  ASSERT_EQ(d.kind, ProxyDecision::Kind::kProxy);
  EXPECT_EQ(d.proxy.host, "lower");
  EXPECT_EQ(d.proxy.port, 3128);
  d = Choose(env, true, "chat.example.com", 443);
  ASSERT_EQ(d.kind, ProxyDecision::Kind::kProxy);
  EXPECT_EQ(d.proxy.host, "secure.corp");
  EXPECT_EQ(d.proxy.port, 8443);
  EXPECT_EQ(d.proxy.authorization, "");
  // An http proxy is never used for https, nor the other way round.
  EXPECT_EQ(Choose({{"http_proxy", "p:1"}}, true, "h").kind, ProxyDecision::Kind::kDirect);
  EXPECT_EQ(Choose({{"https_proxy", "p:1"}}, false, "h").kind, ProxyDecision::Kind::kDirect);
  // Set but empty: no proxy, even when the upper-case form has one.
  EXPECT_EQ(Choose({{"http_proxy", ""}, {"HTTP_PROXY", "p:1"}}, false, "h").kind,
            ProxyDecision::Kind::kDirect);
  EXPECT_EQ(Choose({}, false, "h").kind, ProxyDecision::Kind::kDirect);
}

TEST(ProxySettings, ProxyValues) {
  ProxyServer p;
  std::string reason;
  ASSERT_TRUE(ParseProxyValue("proxy.corp", &p, &reason));
  EXPECT_EQ(p.host, "proxy.corp");
  EXPECT_EQ(p.port, 80);
  ASSERT_TRUE(ParseProxyValue(" HTTP://[fd00::1]:8080/ ", &p, &reason));
  EXPECT_EQ(p.host, "fd00::1");
  EXPECT_EQ(p.port, 8080);
  // User and password, percent-decoded, as Basic credentials ("agent:p@ss:w").
  ASSERT_TRUE(ParseProxyValue("http://agent:p%40ss:w@10.0.0.1:3128", &p, &reason));
  EXPECT_EQ(p.host, "10.0.0.1");
  EXPECT_EQ(p.authorization, "Basic YWdlbnQ6cEBzczp3");
  ASSERT_TRUE(ParseProxyValue("u@h:1", &p, &reason));
  EXPECT_EQ(p.authorization, "Basic dTo=");  // "u:"

  for (const char* bad : {"socks5://h:1080", "https://h:443", "http://", "h:0", "h:65536", "h:x", "fd00::1",
                          "http://a%zz@h", "ho st:80"}) {
    EXPECT_FALSE(ParseProxyValue(bad, &p, &reason)) << bad;
    EXPECT_FALSE(reason.empty()) << bad;
  }
  // A value that cannot be used fails the request instead of going direct.
  ProxyDecision d = Choose({{"https_proxy", "socks5://h:1080"}}, true, "chat.example.com", 443);
  EXPECT_EQ(d.kind, ProxyDecision::Kind::kUnusable);
  EXPECT_NE(d.reason.find("socks5"), std::string::npos);
}

TEST(ProxySettings, NoProxyEntries) {
  const std::string list = " intranet, .example.com,*.corp.net  [fd00::2]:8080,10.1.2.3 , build:8443,::5";
  EXPECT_TRUE(NoProxyMatches(list, "intranet", 80));
  EXPECT_TRUE(NoProxyMatches(list, "INTRANET.", 80));
  EXPECT_TRUE(NoProxyMatches(list, "wiki.intranet", 80));
  EXPECT_FALSE(NoProxyMatches(list, "myintranet", 80));
  EXPECT_TRUE(NoProxyMatches(list, "example.com", 80));
  EXPECT_TRUE(NoProxyMatches(list, "chat.Example.com", 443));
  EXPECT_FALSE(NoProxyMatches(list, "badexample.com", 80));
  EXPECT_TRUE(NoProxyMatches(list, "a.b.corp.net", 80));
  EXPECT_TRUE(NoProxyMatches(list, "fd00::2", 8080));
  EXPECT_TRUE(NoProxyMatches(list, "[fd00::2]", 8080));
  EXPECT_FALSE(NoProxyMatches(list, "fd00::2", 80));
  EXPECT_TRUE(NoProxyMatches(list, "10.1.2.3", 1));
  EXPECT_FALSE(NoProxyMatches(list, "10.1.2.33", 1));
  EXPECT_FALSE(NoProxyMatches(list, "110.1.2.3", 1));
  EXPECT_TRUE(NoProxyMatches(list, "build", 8443));
  EXPECT_FALSE(NoProxyMatches(list, "build", 443));
  EXPECT_TRUE(NoProxyMatches(list, "::5", 80));
  EXPECT_TRUE(NoProxyMatches("*", "anything.at.all", 1));
  EXPECT_FALSE(NoProxyMatches("", "h", 1));
  EXPECT_FALSE(NoProxyMatches(",,.,*.", "h", 1));

  std::map<std::string, std::string> env = {{"http_proxy", "p:1"}, {"NO_PROXY", "example.com"}};
  EXPECT_EQ(Choose(env, false, "www.example.com").kind, ProxyDecision::Kind::kDirect);
  EXPECT_EQ(Choose(env, false, "www.example.org").kind, ProxyDecision::Kind::kProxy);
  env["no_proxy"] = "example.org";  // the lower-case list wins
  EXPECT_EQ(Choose(env, false, "www.example.com").kind, ProxyDecision::Kind::kProxy);
  EXPECT_EQ(Choose(env, false, "www.example.org").kind, ProxyDecision::Kind::kDirect);
}

TEST(ProxySettings, ThisMachineIsAlwaysDirect) {
  std::map<std::string, std::string> env = {{"http_proxy", "p:1"}, {"https_proxy", "p:1"}};
  for (const char* host : {"localhost", "LOCALHOST.", "chat.localhost", "127.0.0.1", "127.1.2.3", "::1",
                           "[::1]", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(IsLoopbackHost(host)) << host;
    EXPECT_EQ(Choose(env, true, host, 443).kind, ProxyDecision::Kind::kDirect) << host;
  }
  for (const char* host : {"127.example.com", "128.0.0.1", "localhost.example.com", "1127.0.0.1", "::2"})
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

TEST(ProxySettings, Targets) {
  EXPECT_EQ(HostAndPort("chat.example.com", 443), "chat.example.com:443");
  EXPECT_EQ(HostAndPort("fd00::1", 443), "[fd00::1]:443");
}

}  // namespace
}  // namespace parlex
