// The client over WinINet against a loopback server that records the raw
// bytes WinINet puts on the wire.
//
// WinINet writes the request head itself: besides the lines the client asks
// for it adds Host and "Connection: Keep-Alive" (the keep-connection flag),
// and on POSTs "Cache-Control: no-cache", and it orders the lines its own
// way. The tests therefore check the request line, the lines the client
// owns (each present exactly once, with its value) and the exact body, and
// allow only those extras besides.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http/generic_http_client.h"
#include "support/test_files.h"
#include "support/loopback_server.h"
#include "http/win32/mime_registration.h"
#include "net/win32/internet_handle.h"

namespace parlex {
namespace {

using net::win32::InternetHandle;
using test::LoopbackServer;
using test::ScriptedReply;

constexpr uint32_t kErrorCannotConnect = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
constexpr uint32_t kErrorTimeout = 12002;        // ERROR_INTERNET_TIMEOUT
constexpr uint32_t kErrorAborted = 12030;        // ERROR_INTERNET_CONNECTION_ABORTED

struct Request {
  std::string line;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  std::vector<std::string> Values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& [n, v] : headers) {
      if (_stricmp(n.c_str(), std::string(name).c_str()) == 0) found.push_back(v);
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

TEST(WinInetRequest, GetLineAndHeaders) {
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

  // A URL without a path: WinINet asks for the root.
  ASSERT_TRUE(client.Execute(server.Url(u""), reqGet, u"OstrelAgent"));
  EXPECT_EQ(client.GetReplyText(), u"root");
  EXPECT_EQ(Parse(server.Received(1)).line, "GET / HTTP/1.0");
}

TEST(WinInetRequest, FormPostWithChineseFieldsAndReply) {
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

TEST(WinInetRequest, CaptureUploadIsByteExact) {
  test::ScopedMimeRegistration jpegType(u".jpg", u"image/jpeg");
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

  // The temporary file's own name, not its path under the agent's profile.
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
  EXPECT_EQ(sent.Values("Content-Length"), std::vector<std::string>{std::to_string(body.size())});
  EXPECT_EQ(sent.body, body);
  ExpectOnlyKnownLines(sent);
}

TEST(WinInetRequest, MultipartWithoutFieldsAndWithChineseText) {
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

// A 1 MiB file goes out in the one write, every byte of it.
TEST(WinInetRequest, LargeFileArrivesWhole) {
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

TEST(WinInetReply, BodiesAndHeaders) {
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
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(client.GetReplyText(), u"with headers");
  // The status is not looked at.
  ASSERT_TRUE(client.Execute(server.Url(u"/r"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"not here");
  EXPECT_EQ(client.GetReplyHeaders(), u"HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\n");
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
}

// A port nothing listens on: bound, then closed again.
uint16_t FreePort() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::closesocket(s);
  ::WSACleanup();
  return ntohs(addr.sin_port);
}

TEST(WinInetFailure, UnreachableAndClosingServers) {
  GenericHTTPClient client(PlatformHttpSeams());
  EXPECT_FALSE(
      client.Execute(Url("http://127.0.0.1:" + std::to_string(FreePort()) + "/x"), reqMultipartPost, u"A"));
  EXPECT_EQ(client.LastError(), kErrorCannotConnect);
  EXPECT_EQ(client.GetReplyText(), u"");
  EXPECT_EQ(InternetHandle::OpenCount(), 0);

  LoopbackServer server(
      std::vector<ScriptedReply>{ScriptedReply::Text("first"), ScriptedReply::CloseAtOnce()});
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(client.Execute(server.Url(u"/ok"), reqGet, u"A"));
  EXPECT_FALSE(client.Execute(server.Url(u"/close"), reqGet, u"A"));
  EXPECT_NE(client.LastError(), 0u);
  EXPECT_EQ(client.GetReplyText(), u"first");
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
}

// A server that takes the request and never answers: each kind of request
// ends within the injected bound of silence.
TEST(WinInetFailure, SilentServerEndsWithinTheBound) {
  test::TempFile jpeg(u"parlex_silent.jpg", test::TinyJpeg());
  for (int kind : {reqGet, reqFormPost, reqMultipartPost}) {
    LoopbackServer server(ScriptedReply::Never());
    ASSERT_TRUE(server.Start());
    GenericHTTPClient client(PlatformHttpSeams());
    client.SetTimeouts({2000, 500});
    client.AddField(u"upload", jpeg.Path(), true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Execute(server.Url(u"/never"), kind, u"A"));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(400)) << kind;  // it did wait for the reply
    EXPECT_LT(waited, std::chrono::seconds(5)) << kind;         // 500 ms, with room for a slow machine
    // Windows reports ERROR_INTERNET_TIMEOUT; Wine reports the aborted
    // connection from HttpSendRequestW and the socket's own WSAETIMEDOUT
    // from HttpEndRequestW.
    const uint32_t error = client.LastError();
    EXPECT_TRUE(error == kErrorTimeout || error == kErrorAborted || error == WSAETIMEDOUT)
        << error << " kind " << kind;
    EXPECT_EQ(server.Received(0).substr(0, 5), kind == reqGet ? "GET /" : "POST ");
    EXPECT_EQ(InternetHandle::OpenCount(), 0);
  }
}

// A server that sends the head and part of the body, then falls silent:
// the read ends after the bound of silence and what had come counts.
TEST(WinInetFailure, BodyStallEndsTheBodyWithinTheBound) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread server([&] {
    SOCKET s = ::accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      int n = ::recv(s, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      request.append(chunk, static_cast<size_t>(n));
    }
    const char reply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\npartial \xE5\x9B\xBE";
    ::send(s, reply, sizeof reply - 1, 0);
    ::WaitForSingleObject(release, 10000);
    ::closesocket(s);
  });

  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({2000, 500});
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(
      client.Execute(Url("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/"), reqGet, u"A"))
      << client.LastError();
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(client.GetReplyText(), u"partial 图");
  EXPECT_GE(waited, std::chrono::milliseconds(400));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
  ::SetEvent(release);
  server.join();
  ::CloseHandle(release);
  ::closesocket(listener);
  ::WSACleanup();
}

// A server that takes the connection and never reads: once the socket's
// buffers are full the body cannot go out, and the send bound ends the wait.
TEST(WinInetFailure, SendStallEndsWithinTheBound) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread server([&] {
    SOCKET s = ::accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    ::WaitForSingleObject(release, 20000);
    ::closesocket(s);
  });

  test::TempFile file(u"parlex_stall.bin", std::string(32u << 20, 'x'));
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({2000, 500});
  client.AddField(u"upload", file.Path(), true);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Execute(Url("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/"),
                              reqMultipartPost, u"A"));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(8));  // 500 ms of silence, the 32 MiB body built, room to spare
  const uint32_t error = client.LastError();
  EXPECT_TRUE(error == kErrorTimeout || error == kErrorAborted || error == WSAETIMEDOUT) << error;
  ::SetEvent(release);
  server.join();
  ::CloseHandle(release);
  ::closesocket(listener);
  ::WSACleanup();
  for (int i = 0; i < 200 && InternetHandle::OpenCount() != 0; ++i) ::Sleep(50);
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
}

// A listener whose queue is full and that never accepts: the handshake
// never completes, and the connect bound ends the wait. WinINet's own
// connect timeout does not (under Wine the call waits for the system's TCP
// retries, over two minutes).
TEST(WinInetFailure, ConnectEndsWithinTheBound) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::vector<SOCKET> fillers;
  for (int i = 0; i < 8; ++i) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(s);
  }
  ::Sleep(200);

  test::TempFile jpeg(u"parlex_connect.jpg", test::TinyJpeg());
  const std::u16string url = Url("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/");
  for (int kind : {reqGet, reqMultipartPost}) {
    GenericHTTPClient client(PlatformHttpSeams());
    // The connect bound alone ends the wait, however long silence may last
    // once connected.
    client.SetTimeouts({600, 20000});
    client.AddField(u"upload", jpeg.Path(), true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Execute(url, kind, u"A"));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(4)) << kind;  // 600 ms with room, not 40 s
    EXPECT_EQ(client.LastError(), kErrorTimeout) << kind;
  }
  // The calls given up on still hold their handles; once the host answers
  // at last (here: refuses), they end and close them.
  for (SOCKET s : fillers) ::closesocket(s);
  ::closesocket(listener);
  ::WSACleanup();
  for (int i = 0; i < 300 && InternetHandle::OpenCount() != 0; ++i) ::Sleep(50);
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
}

TEST(WinInetFailure, HttpsIsSpokenOverTls) {
  LoopbackServer server(ScriptedReply::Text("plain"));
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({2000, 1000});
  EXPECT_FALSE(
      client.Execute(Url("https://127.0.0.1:" + std::to_string(server.Port()) + "/x"), reqGet, u"A"));
  // The plain server never sees a request line: what came (if TLS could start
  // at all) is a TLS handshake record.
  std::string received = server.Received(0, 2000);
  EXPECT_EQ(received.find("HTTP/1.0"), std::string::npos);
  if (!received.empty()) {
    EXPECT_EQ(received[0], '\x16');
  }
  EXPECT_EQ(client.GetReplyText(), u"");
  // A handshake still waiting when the bound ran out closes its handles
  // when it ends.
  server.Stop();
  for (int i = 0; i < 200 && InternetHandle::OpenCount() != 0; ++i) ::Sleep(50);
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
}

// 0 where the system does not count (Wine answers 0).
DWORD ProcessHandles() {
  DWORD count = 0;
  return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? count : 0;
}

TEST(WinInetHandles, NoneLeftOpenOnAnyPath) {
  test::TempFile jpeg(u"parlex_handles.jpg", test::TinyJpeg());
  LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("warm"), ScriptedReply::Text("1"),
                                                   ScriptedReply::Text(""), ScriptedReply::CloseAtOnce(),
                                                   ScriptedReply::Text("2")});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  // WinINet sets itself up on first use; count from there.
  ASSERT_TRUE(client.Execute(server.Url(u"/warm"), reqGet, u"A"));
  DWORD before = ProcessHandles();
  client.AddField(u"upload", jpeg.Path(), true);
  EXPECT_TRUE(client.Execute(server.Url(u"/a"), reqMultipartPost, u"A"));
  EXPECT_FALSE(client.Execute(server.Url(u"/b"), reqMultipartPost, u"A"));
  EXPECT_FALSE(client.Execute(server.Url(u"/c"), reqFormPost, u"A"));
  EXPECT_TRUE(client.Execute(server.Url(u"/d"), reqGet, u"A"));
  EXPECT_FALSE(client.Execute(Url("http://127.0.0.1:" + std::to_string(FreePort()) + "/"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"2");
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
  if (before == 0) {
    std::printf("GetProcessHandleCount gives no count here: only the transport's own count was checked\n");
    return;
  }
  // The kernel's count (sockets, files) settles once WinINet has let go.
  DWORD after = ProcessHandles();
  for (int i = 0; i < 50 && after > before; ++i) {
    ::Sleep(20);
    after = ProcessHandles();
  }
  EXPECT_LE(after, before);
}

}  // namespace
}  // namespace parlex
