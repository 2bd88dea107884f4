// The client over the platform's own transport (sockets on Linux, WinINet
// under Wine) against the loopback server that records the raw bytes: the
// same requests and replies in both builds.
//
// WinINet writes the request head itself: besides the lines the client asks
// for it adds Host and "Connection: Keep-Alive" (the keep-connection flag),
// and on POSTs "Cache-Control: no-cache", and it orders the lines its own
// way. The cases therefore check the request line, the lines the client
// owns (each present exactly once, with its value) and the exact body, and
// allow only those extras besides. The socket transport's own order is
// checked with its other tests.
#ifdef _WIN32
#include <winsock2.h>
// winsock2.h before windows.h.
#include <windows.h>
#else
#include <cerrno>
#endif
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "http/generic_http_client.h"
#include "support/loopback_server.h"
#include "support/test_files.h"
#ifdef _WIN32
#include "http/win32/mime_registration.h"
#endif

namespace parlex {
namespace {

using test::LoopbackServer;
using test::ScriptedReply;

#ifdef _WIN32
constexpr uint32_t kCannotConnect = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
constexpr uint32_t kHeadersTooLarge = ERROR_INSUFFICIENT_BUFFER;
// The type of ".jpg" comes from the registry, which a fresh prefix may lack.
struct JpegType {
  test::ScopedMimeRegistration registration{u".jpg", u"image/jpeg"};
};
#else
constexpr uint32_t kCannotConnect = ECONNREFUSED;
constexpr uint32_t kHeadersTooLarge = EMSGSIZE;
// The type of ".jpg" comes from /etc/mime.types (media-types).
struct JpegType {};
#endif

struct Request {
  std::string line;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  std::vector<std::string> Values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& [n, v] : headers) {
      if (EqualsIgnoringCase(n, name)) found.push_back(v);
    }
    return found;
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& h : headers) names.insert(h.first);
    return names;
  }
};

Request Parse(const std::string& raw) {
  Request r;
  size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return r;
  r.body = raw.substr(end + 4);
  size_t at = raw.find("\r\n");
  r.line = raw.substr(0, at);
  while (at < end) {
    size_t next = raw.find("\r\n", at + 2);
    std::string line = raw.substr(at + 2, next - at - 2);
    size_t colon = line.find(": ");
    r.headers.emplace_back(line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 2));
    at = next;
  }
  return r;
}

// The lines the client owns, and the ones WinINet may add on its own.
void ExpectOnlyKnownLines(const Request& r) {
  const std::set<std::string> known{"Accept", "User-Agent", "Content-Type", "Content-Length",
                                    "Host",   "Connection", "Cache-Control"};
  for (const auto& name : r.Names()) EXPECT_TRUE(known.count(name)) << "unexpected line " << name;
}

void ExpectAgentAndAccept(const Request& r, const std::string& agent) {
  EXPECT_EQ(r.Values("User-Agent"), std::vector<std::string>{agent});
  EXPECT_EQ(r.Values("Accept"), std::vector<std::string>{"*/*"});
  EXPECT_TRUE(r.Values("Referer").empty());
}

std::u16string Url(const std::string& text) { return std::u16string(text.begin(), text.end()); }

TEST(ClientRequest, GetLineAndHeaders) {
  LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("ok"), ScriptedReply::Text("root")});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  ASSERT_TRUE(client.Execute(server.Url(u"/get?x=1"), reqGet, u"OstrelAgent")) << client.LastError();
  EXPECT_EQ(client.GetReplyText(), u"ok");
  Request get = Parse(server.Received(0));
  EXPECT_EQ(get.line, "GET /get?x=1 HTTP/1.0");
  ExpectAgentAndAccept(get, "OstrelAgent");
  EXPECT_TRUE(get.Values("Content-Type").empty());
  EXPECT_TRUE(get.Values("Content-Length").empty());
  EXPECT_EQ(get.body, "");
  ExpectOnlyKnownLines(get);
  EXPECT_EQ(get.Values("Host"), std::vector<std::string>{"127.0.0.1:" + std::to_string(server.Port())});

  // A URL without a path asks for the root.
  ASSERT_TRUE(client.Execute(server.Url(u""), reqGet, u"OstrelAgent"));
  EXPECT_EQ(client.GetReplyText(), u"root");
  EXPECT_EQ(Parse(server.Received(1)).line, "GET / HTTP/1.0");
}

TEST(ClientRequest, FormPostWithChineseFieldsAndReply) {
  LoopbackServer server(std::vector<ScriptedReply>{
      ScriptedReply::Text("done"), ScriptedReply::Text("\xE6\x88\x90\xE5\x8A\x9F\xEF\xBC\x81")});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.AddField(u"a", 1);
  client.AddField(u"b", 2);
  ASSERT_TRUE(client.Execute(server.Url(u"/form"), reqFormPost, u"A"));
  Request form = Parse(server.Received(0));
  EXPECT_EQ(form.line, "POST /form HTTP/1.0");
  ExpectAgentAndAccept(form, "A");
  EXPECT_EQ(form.Values("Content-Type"), std::vector<std::string>{"application/x-www-form-urlencoded"});
  EXPECT_EQ(form.Values("Content-Length"), std::vector<std::string>{"7"});
  EXPECT_EQ(form.body, "a=1&b=2");
  ExpectOnlyKnownLines(form);

  client.ClearFields();
  client.AddField(u"坐席", u"张三", false);
  ASSERT_TRUE(client.Execute(server.Url(u"/form"), reqFormPost, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"成功！");
  Request chinese = Parse(server.Received(1));
  EXPECT_EQ(chinese.body, "\xE5\x9D\x90\xE5\xB8\xAD=\xE5\xBC\xA0\xE4\xB8\x89");
  EXPECT_EQ(chinese.Values("Content-Length"), std::vector<std::string>{"13"});
}

TEST(ClientRequest, CaptureUploadIsByteExact) {
  [[maybe_unused]] JpegType jpegType;
  test::TempFile jpeg(u"ostrelscreenshottmp.jpg", test::TinyJpeg());
  LoopbackServer server(ScriptedReply::Text("{\"url\":\"/img/1.jpg\"}"));
  ASSERT_TRUE(server.Start());
  // The upload's own sequence of calls.
  GenericHTTPClient client(PlatformHttpSeams());
  client.ClearFields();
  client.AddField(u"companyId", 1001);
  client.AddField(u"visitorId", -1);
  client.AddField(u"upload", jpeg.Path(), true);
  ASSERT_TRUE(client.Execute(server.Url(u"/resource/staff/image"), reqMultipartPost, u"OstrelAgent"));
  EXPECT_EQ(client.GetReplyText(), u"{\"url\":\"/img/1.jpg\"}");

  // The temporary file's own name, not its path in the agent's folders.
  const std::string body =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"companyId\"\r\n"
      "\r\n"
      "1001\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"visitorId\"\r\n"
      "\r\n"
      "-1\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"upload\"; filename=\"ostrelscreenshottmp.jpg\"\r\n"
      "Content-Type: image/jpeg\r\n"
      "\r\n" +
      test::TinyJpeg() +
      "\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  Request sent = Parse(server.Received(0));
  EXPECT_EQ(sent.line, "POST /resource/staff/image HTTP/1.0");
  ExpectAgentAndAccept(sent, "OstrelAgent");
  EXPECT_EQ(sent.Values("Content-Type"),
            std::vector<std::string>{"multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY"});
  EXPECT_EQ(sent.Values("Content-Length"), std::vector<std::string>{"532"});
  EXPECT_EQ(sent.body, body);
  EXPECT_EQ(body.size(), 532u);
  ExpectOnlyKnownLines(sent);
}

TEST(ClientRequest, MultipartWithoutFieldsAndWithChineseText) {
  LoopbackServer server(std::vector<ScriptedReply>{
      ScriptedReply::Text("x"), ScriptedReply::Text("\xE5\x9B\xBE\xE7\x89\x87\xE5\xB7\xB2\xE6\x94\xB6")});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  ASSERT_TRUE(client.Execute(server.Url(u"/u"), reqMultipartPost, u"A"));
  Request empty = Parse(server.Received(0));
  EXPECT_EQ(empty.Values("Content-Length"), std::vector<std::string>{"38"});
  EXPECT_EQ(empty.body, "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");

  client.AddField(u"访客", u"李四", false);
  ASSERT_TRUE(client.Execute(server.Url(u"/u"), reqMultipartPost, u"坐席代理"));
  EXPECT_EQ(client.GetReplyText(), u"图片已收");
  Request chinese = Parse(server.Received(1));
  EXPECT_EQ(chinese.body,
            "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"\xE8\xAE\xBF\xE5\xAE\xA2\"\r\n"
            "\r\n"
            "\xE6\x9D\x8E\xE5\x9B\x9B\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
  EXPECT_EQ(chinese.Values("Content-Length"), std::vector<std::string>{std::to_string(chinese.body.size())});
}

// A 1 MiB file goes out whole, every byte of it.
TEST(ClientRequest, LargeFileArrivesWhole) {
  std::string content(1 << 20, '\0');
  uint32_t x = 2463534242u;
  for (char& c : content) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  test::TempFile file(u"parlex_large.bin", content);
  LoopbackServer server(ScriptedReply::Text("got it"));
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.AddField(u"upload", file.Path(), true);
  ASSERT_TRUE(client.Execute(server.Url(u"/big"), reqMultipartPost, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"got it");
  Request sent = Parse(server.Received(0));
  const std::string head =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"upload\"; filename=\"parlex_large.bin\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n";
  const std::string tail = "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  ASSERT_EQ(sent.body.size(), head.size() + content.size() + tail.size());
  EXPECT_EQ(sent.body.substr(0, head.size()), head);
  EXPECT_TRUE(sent.body.compare(head.size(), content.size(), content) == 0);
  EXPECT_EQ(sent.body.substr(head.size() + content.size()), tail);
  EXPECT_EQ(sent.Values("Content-Length"), std::vector<std::string>{std::to_string(sent.body.size())});
}

TEST(ClientReply, BodiesAndHeaders) {
  ScriptedReply empty = ScriptedReply::Text("");
  std::string big(3000, 'z');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = 'q';
  ScriptedReply headers4k = ScriptedReply::Text("with headers");
  headers4k.head = "HTTP/1.0 200 OK\r\n";
  while (headers4k.head.size() < 4096) headers4k.head += "X-Pad: " + std::string(60, 'p') + "\r\n";
  headers4k.head += "\r\n";
  ScriptedReply headers80k = headers4k;
  while (headers80k.head.size() < 80 * 1024)
    headers80k.head.insert(17, "X-More: " + std::string(90, 'm') + "\r\n");
  ScriptedReply error = ScriptedReply::Text("not here");
  error.head = "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\n";
  LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("previous"), empty,
                                                   ScriptedReply::Text(big), headers4k, headers80k, error});
  ASSERT_TRUE(server.Start());

  // One object, one request after the other.
  GenericHTTPClient client(PlatformHttpSeams());
  ASSERT_TRUE(client.Execute(server.Url(u"/r"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"previous");
  // An empty body fails and keeps the previous text.
  EXPECT_FALSE(client.Execute(server.Url(u"/r"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"previous");
  // Over 1024 bytes: the first 1024 are kept, 1023 of them fit the text.
  ASSERT_TRUE(client.Execute(server.Url(u"/r"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), std::u16string(big.begin(), big.begin() + 1023));
  // 4 KiB of headers are an ordinary reply; the block comes back whole.
  ASSERT_TRUE(client.Execute(server.Url(u"/r"), reqGet, u"A")) << client.LastError();
  EXPECT_EQ(client.GetReplyText(), u"with headers");
  EXPECT_EQ(client.GetReplyHeaders(), std::u16string(headers4k.head.begin(), headers4k.head.end()));
  // Over 64 KiB of headers is not.
  EXPECT_FALSE(client.Execute(server.Url(u"/r"), reqGet, u"A"));
  EXPECT_EQ(client.LastError(), kHeadersTooLarge);
  EXPECT_EQ(client.GetReplyText(), u"with headers");
  // The status is not looked at.
  ASSERT_TRUE(client.Execute(server.Url(u"/r"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"not here");
  EXPECT_EQ(client.GetReplyHeaders(), u"HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\n");
}

TEST(ClientFailure, UnreachableAndClosingServers) {
  GenericHTTPClient client(PlatformHttpSeams());
  const uint16_t port = test::ClosedLoopbackPort();
  ASSERT_NE(port, 0);
  EXPECT_FALSE(
      client.Execute(Url("http://127.0.0.1:" + std::to_string(port) + "/x"), reqMultipartPost, u"A"));
  EXPECT_EQ(client.LastError(), kCannotConnect);
  EXPECT_EQ(client.GetReplyText(), u"");

  LoopbackServer server(
      std::vector<ScriptedReply>{ScriptedReply::Text("first"), ScriptedReply::CloseAtOnce()});
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(client.Execute(server.Url(u"/ok"), reqGet, u"A"));
  EXPECT_FALSE(client.Execute(server.Url(u"/close"), reqGet, u"A"));
  EXPECT_NE(client.LastError(), 0u);
  EXPECT_EQ(client.GetReplyText(), u"first");
}

}  // namespace
}  // namespace parlex
