// The client over WinINet against loopback servers: what only this
// transport does (its bounds on connects, sends and silences that WinINet
// does not keep by itself, TLS, the handles it opens). What both transports
// do is in ../platform_client_test.cpp.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "http/generic_http_client.h"
#include "support/test_files.h"
#include "support/loopback_server.h"
#include "net/win32/internet_handle.h"

namespace parlex {
namespace {

using net::win32::InternetHandle;
using test::LoopbackServer;
using test::ScriptedReply;

constexpr uint32_t kErrorTimeout = 12002;  // ERROR_INTERNET_TIMEOUT
constexpr uint32_t kErrorAborted = 12030;  // ERROR_INTERNET_CONNECTION_ABORTED

std::u16string Url(const std::string& text) { return std::u16string(text.begin(), text.end()); }

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
  ScriptedReply stall = ScriptedReply::Text("partial \xE5\x9B\xBE and the rest, too late");
  stall.pauseAfter = 11;  // "partial 图"
  stall.pauseMs = 10000;
  LoopbackServer server(stall);
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({2000, 500});
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.Execute(server.Url(u"/"), reqGet, u"A")) << client.LastError();
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(client.GetReplyText(), u"partial 图");
  EXPECT_GE(waited, std::chrono::milliseconds(400));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(InternetHandle::OpenCount(), 0);
}

// A server that takes the connection and never reads: once the socket's
// buffers are full the body cannot go out, and the send bound ends the wait.
TEST(WinInetFailure, SendStallEndsWithinTheBound) {
  ScriptedReply deaf;
  deaf.mode = ScriptedReply::Mode::kHoldUnread;
  LoopbackServer server(deaf);
  ASSERT_TRUE(server.Start());
  test::TempFile file(u"parlex_stall.bin", std::string(32u << 20, 'x'));
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({2000, 500});
  client.AddField(u"upload", file.Path(), true);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Execute(server.Url(u"/"), reqMultipartPost, u"A"));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(8));  // 500 ms of silence, the 32 MiB body built, room to spare
  const uint32_t error = client.LastError();
  EXPECT_TRUE(error == kErrorTimeout || error == kErrorAborted || error == WSAETIMEDOUT) << error;
  server.Stop();
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
  EXPECT_FALSE(client.Execute(Url("http://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) + "/"),
                              reqGet, u"A"));
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
