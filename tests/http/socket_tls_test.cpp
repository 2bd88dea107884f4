// https through the socket transport against a loopback TLS server whose
// certificates come from a CA the test makes and trusts (SSL_CERT_FILE).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "http/generic_http_client.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "support/test_files.h"
#include "support/scoped_env.h"

namespace parlex {
namespace {

using test::LoopbackServer;
using test::ScriptedReply;

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class Https : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.Ok());
    ASSERT_TRUE(ca.Ok());
    trust.emplace("SSL_CERT_FILE", ca.CertFile().c_str());
  }
  void TearDown() override { trust.reset(); }
  // A TLS server with a certificate of ca (or of another CA) for san.
  bool StartTls(LoopbackServer& server, const std::string& name, const std::string& san, int days = 1,
                bool byStranger = false) {
    auto issued = (byStranger ? stranger : ca).Issue(name, san, days);
    return issued && server.UseTls(issued->certFile, issued->keyFile) && server.Start();
  }

  test::TempDir dir{"https"};
  test::TestCa ca{dir.Path(), "ParlexTestCA"};
  test::TestCa stranger{dir.Path(), "StrangerCA"};
  std::optional<test::ScopedEnv> trust;
};

TEST_F(Https, UploadAndGetWithTheCertificateChecked) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
  test::TempFile jpeg(u"ostrelscreenshottmp.jpg", test::TinyJpeg() + big);
  LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("{\"url\":\"/img/1.jpg\"}"),
                                                   ScriptedReply::Text("by name")});
  ASSERT_TRUE(StartTls(server, "server", "IP:127.0.0.1,DNS:localhost"));
  GenericHTTPClient client(PlatformHttpSeams());
  client.AddField(u"companyId", 1001);
  client.AddField(u"visitorId", -1);
  client.AddField(u"upload", jpeg.Path(), true);
  ASSERT_TRUE(client.Execute(server.Url(u"/resource/staff/image"), reqMultipartPost, u"OstrelAgent"));
  EXPECT_EQ(client.GetReplyText(), u"{\"url\":\"/img/1.jpg\"}");
  // The server decrypted the very request a plain connection carries.
  const std::string received = server.Received(0);
  EXPECT_EQ(received.substr(0, received.find("\r\n\r\n") + 4),
            "POST /resource/staff/image HTTP/1.0\r\nUser-Agent: OstrelAgent\r\nHost: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\nAccept: */*\r\n"
                "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
                "Content-Length: " +
                std::to_string(received.size() - received.find("\r\n\r\n") - 4) + "\r\n\r\n");
  EXPECT_NE(received.find("filename=\"ostrelscreenshottmp.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n" +
                          test::TinyJpeg() + big + "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n"),
            std::string::npos);

  EXPECT_EQ(server.ServerName(0), "");  // an address is never sent as a server name

  // By name: checked against the DNS entry, and named to the server.
  ASSERT_TRUE(
      client.Execute(Wide("https://localhost:" + std::to_string(server.Port()) + "/n"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"by name");
  EXPECT_EQ(server.ServerName(1), "localhost");
  EXPECT_NE(server.Received(1).find("\r\nHost: localhost:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
}

TEST_F(Https, ServerGoneDuringTheUploadIsAFailedRequest) {
  // Writing to a TLS connection the server has closed must fail the request,
  // not end the program with a broken-pipe signal.
  test::TempFile big(u"parlex_tls_big.jpg", std::string(8u << 20, 'x'));
  ScriptedReply gone;
  gone.mode = ScriptedReply::Mode::kCloseUnread;
  LoopbackServer server(gone);
  ASSERT_TRUE(StartTls(server, "server", "IP:127.0.0.1"));
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({5000, 5000});
  client.AddField(u"upload", big.Path(), true);
  EXPECT_FALSE(client.Execute(server.Url(u"/up"), reqMultipartPost, u"A"));
  EXPECT_TRUE(client.LastError() == EPIPE || client.LastError() == ECONNRESET) << client.LastError();
  EXPECT_EQ(client.GetReplyText(), u"");
}

// What a refused server gets, and what the log says.
struct Refusal {
  bool ok = true;
  uint32_t error = 0;
  std::string log;
};

Refusal Request(const std::string& url) {
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({6000, 2000});
  client.AddField(u"companyId", 1001);
  testing::internal::CaptureStderr();
  Refusal r;
  r.ok = client.Execute(Wide(url), reqMultipartPost, u"OstrelAgent");
  r.log = testing::internal::GetCapturedStderr();
  r.error = client.LastError();
  EXPECT_EQ(client.GetReplyText(), u"");
  return r;
}

TEST_F(Https, CertificatesThatFailTheCheckGetNoRequest) {
  struct Case {
    const char* what;
    std::string san;
    int days;
    bool byStranger;
    std::string host;
    std::string reason;
  } cases[] = {
      {"untrusted CA", "IP:127.0.0.1", 1, true, "127.0.0.1",
       "certificate verify failed: unable to get local issuer certificate"},
      {"expired", "IP:127.0.0.1", -1, false, "127.0.0.1",
       "certificate verify failed: certificate has expired"},
      {"other address", "DNS:other.test", 1, false, "127.0.0.1",
       "certificate verify failed: IP address mismatch"},
      {"other name", "DNS:other.test", 1, false, "localhost", "certificate verify failed: hostname mismatch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackServer server(ScriptedReply::Text("must not be reached"));
    ASSERT_TRUE(StartTls(server, "s", c.san, c.days, c.byStranger));
    const std::string hostPort = c.host + ":" + std::to_string(server.Port());
    Refusal r = Request("https://" + hostPort + "/resource/staff/image");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, static_cast<uint32_t>(EPROTO));
    EXPECT_EQ(r.log, "parlex: https to " + hostPort + " failed: " + c.reason + "\n");
    // The server saw a handshake it could not finish and not one request byte.
    EXPECT_EQ(server.Received(0), "");
    EXPECT_GE(server.Connections(), 1u);
  }
}

TEST_F(Https, PlainServerOnTheHttpsPort) {
  LoopbackServer server(ScriptedReply::Text("plain text"));
  ASSERT_TRUE(server.Start());
  const std::string hostPort = "127.0.0.1:" + std::to_string(server.Port());
  Refusal r = Request("https://" + hostPort + "/x");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.log, "parlex: https to " + hostPort + " failed: not TLS: the server answered in plain text\n");
  // All it got was the TLS hello: a handshake record, no request line.
  const std::string received = server.Received(0);
  ASSERT_GE(received.size(), 5u);
  EXPECT_EQ(received.substr(0, 2), "\x16\x03");
  EXPECT_EQ(received.find("POST"), std::string::npos);
  EXPECT_EQ(received.find("companyId"), std::string::npos);
}

}  // namespace
}  // namespace parlex
