// The updater's GET through an http proxy started by the test: plain http
// with the whole address, https through a CONNECT tunnel, no_proxy, and
// proxies that refuse, close or stay silent.
#include <gtest/gtest.h>

#include <chrono>

#include "support/loopback_proxy.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "update/posix/http_get.h"

namespace parlex::update::posix {
namespace {

using test::LoopbackProxy;
using test::LoopbackServer;
using test::ProxyEnvironment;
using test::ScriptedReply;

std::string Body(HttpGet& get) {
  std::string body;
  char buffer[256];
  for (ptrdiff_t n; (n = get.Read(buffer, sizeof buffer, 2000)) > 0;)
    body.append(buffer, static_cast<size_t>(n));
  return body;
}

HttpUrl Url(const std::string& text) {
  HttpUrl url;
  EXPECT_TRUE(SplitHttpUrl(text, &url)) << text;
  return url;
}

// "updates.test" is known only to the proxy, which sends everything to the
// loopback server.
TEST(UpdateProxy, HttpAndHttpsThroughTheProxy) {
  test::TempDir dir{"update_proxy"};
  test::TestCa ca{dir.Path(), "UpdateProxyCA"};
  ASSERT_TRUE(dir.Ok() && ca.Ok());
  auto issued = ca.Issue("updates", "DNS:updates.test", 1);
  ASSERT_TRUE(issued);
  LoopbackServer plain(ScriptedReply::Text("1.0.0.9"));
  LoopbackServer secure(ScriptedReply::Text("1.0.0.10"));
  ASSERT_TRUE(plain.Start());
  ASSERT_TRUE(secure.UseTls(issued->certFile, issued->keyFile) && secure.Start());
  LoopbackProxy httpProxy(LoopbackProxy::Mode::kForward, plain.Port());
  LoopbackProxy httpsProxy(LoopbackProxy::Mode::kForward, secure.Port());
  ASSERT_TRUE(httpProxy.Start() && httpsProxy.Start());
  ProxyEnvironment env({{"HTTP_PROXY", "agent:pw@127.0.0.1:" + std::to_string(httpProxy.Port())},
                        {"HTTPS_PROXY", httpsProxy.Address()},
                        {"SSL_CERT_FILE", ca.CertFile()}});

  const std::string host = "updates.test:" + std::to_string(plain.Port());
  HttpGet get;
  ASSERT_TRUE(get.Open(Url("http://" + host + "/u/update.txt"), "ParlexUpdater", 2000));
  EXPECT_EQ(get.Status(), 200);
  EXPECT_EQ(Body(get), "1.0.0.9");
  ASSERT_EQ(httpProxy.Requests().size(), 1u);
  const std::string asked = "GET http://" + host + "/u/update.txt HTTP/1.0\r\nHost: " + host +
                            "\r\nProxy-Authorization: Basic YWdlbnQ6cHc=\r\nUser-Agent: ParlexUpdater\r\n";
  EXPECT_EQ(httpProxy.Requests()[0].substr(0, asked.size()), asked);
  const std::string arrived = "GET /u/update.txt HTTP/1.0\r\nHost: " + host + "\r\n";
  EXPECT_EQ(plain.Received(0).substr(0, arrived.size()), arrived);

  const std::string secureHost = "updates.test:" + std::to_string(secure.Port());
  HttpGet secureGet;
  ASSERT_TRUE(secureGet.Open(Url("https://" + secureHost + "/u/update.txt"), "ParlexUpdater", 2000));
  EXPECT_EQ(Body(secureGet), "1.0.0.10");
  ASSERT_EQ(httpsProxy.Requests().size(), 1u);
  EXPECT_EQ(httpsProxy.Requests()[0],
            "CONNECT " + secureHost + " HTTP/1.0\r\nHost: " + secureHost + "\r\n\r\n");
  EXPECT_EQ(httpsProxy.TunnelledFromClient().find("update.txt"), std::string::npos);
  EXPECT_EQ(secure.Received(0).substr(0, 27), "GET /u/update.txt HTTP/1.0\r");
}

TEST(UpdateProxy, NoProxyRefusalsAndSilence) {
  LoopbackServer server(ScriptedReply::Text("1.0.0.9"));
  ASSERT_TRUE(server.Start());
  LoopbackProxy forwarding(LoopbackProxy::Mode::kForward, server.Port());
  LoopbackProxy refusing(LoopbackProxy::Mode::kRefuse);
  LoopbackProxy closing(LoopbackProxy::Mode::kClose);
  LoopbackServer silent(ScriptedReply::Never());
  ASSERT_TRUE(forwarding.Start() && refusing.Start() && closing.Start() && silent.Start());
  const HttpUrl plainUrl = Url("http://updates.invalid:" + std::to_string(server.Port()) + "/u/update.txt");
  const HttpUrl secureUrl = Url("https://updates.invalid/u/update.txt");
  {
    // Listed in no_proxy: looked up directly, where the name does not exist.
    ProxyEnvironment env({{"http_proxy", forwarding.Address()}, {"no_proxy", "updates.invalid"}});
    HttpGet get;
    EXPECT_FALSE(get.Open(plainUrl, "U", 2000));
    EXPECT_TRUE(forwarding.Requests().empty());
  }
  {
    ProxyEnvironment env({{"http_proxy", closing.Address()}, {"https_proxy", refusing.Address()}});
    HttpGet get;
    EXPECT_FALSE(get.Open(plainUrl, "U", 2000));
    EXPECT_EQ(closing.Requests().size(), 1u);
    HttpGet secureGet;
    EXPECT_FALSE(secureGet.Open(secureUrl, "U", 2000));
    ASSERT_EQ(refusing.Requests().size(), 1u);
    EXPECT_EQ(refusing.Requests()[0].substr(0, 33), "CONNECT updates.invalid:443 HTTP/");
  }
  {
    ProxyEnvironment env({{"https_proxy", "127.0.0.1:" + std::to_string(silent.Port())}});
    auto start = std::chrono::steady_clock::now();
    HttpGet get;
    EXPECT_FALSE(get.Open(secureUrl, "U", 300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(silent.Received(0).substr(0, 27), "CONNECT updates.invalid:443");
  }
  EXPECT_EQ(server.Connections(), 0u);
}

}  // namespace
}  // namespace parlex::update::posix
