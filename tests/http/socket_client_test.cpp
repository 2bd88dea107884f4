// The client over the socket transport against a loopback server that
// records the raw bytes it receives: what only this transport does (its
// order of lines, the target's encoding, names, lengths, bounds,
// descriptors, the system's MIME table). What both transports do is in
// platform_client_test.cpp.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "http/generic_http_client.h"
#include "support/test_files.h"
#include "support/loopback_server.h"
#include "http/mime_type.h"
#include "http/posix/socket_transport.h"

namespace parlex {
namespace {

using test::LoopbackServer;
using test::ScriptedReply;

std::string HostLine(const LoopbackServer& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.Port());
}

TEST(SocketRequest, GetLineAndHeaders) {
  LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("ok"), ScriptedReply::Text("root")});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  ASSERT_TRUE(client.Execute(server.Url(u"/get?x=1"), reqGet, u"OstrelAgent"));
  EXPECT_EQ(client.GetReplyText(), u"ok");
  EXPECT_EQ(server.Received(0), "GET /get?x=1 HTTP/1.0\r\nUser-Agent: OstrelAgent\r\n" + HostLine(server) +
                                    "\r\nAccept: */*\r\n\r\n");
  // A URL without a path still makes a valid request line.
  ASSERT_TRUE(client.Execute(server.Url(u""), reqGet, u"OstrelAgent"));
  EXPECT_EQ(client.GetReplyText(), u"root");
  EXPECT_EQ(server.Received(1).substr(0, 16), "GET / HTTP/1.0\r\n");
}

TEST(SocketRequest, TargetIsPercentEncoded) {
  // A space or a Chinese path would otherwise break the request line.
  LoopbackServer server(ScriptedReply::Text("ok"));
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  ASSERT_TRUE(client.Execute(server.Url(u"/图 片?q=a b%20c"), reqGet, u"A"));
  const std::string received = server.Received(0);
  EXPECT_EQ(received.substr(0, received.find("\r\n")), "GET /%E5%9B%BE%20%E7%89%87?q=a%20b%20c HTTP/1.0");
}

TEST(SocketRequest, HostByName) {
  LoopbackServer server(ScriptedReply::Text("named"));
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({2000, 1000});
  std::string url = "http://localhost:" + std::to_string(server.Port()) + "/n";
  ASSERT_TRUE(client.Execute(std::u16string(url.begin(), url.end()), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"named");
  EXPECT_NE(server.Received(0).find("\r\nHost: localhost:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
}

// The socket transport's own order of a POST's lines.
TEST(SocketRequest, FormPostHeadInOrder) {
  LoopbackServer server(ScriptedReply::Text("done"));
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.AddField(u"a", 1);
  client.AddField(u"b", 2);
  ASSERT_TRUE(client.Execute(server.Url(u"/form"), reqFormPost, u"A"));
  EXPECT_EQ(server.Received(0), "POST /form HTTP/1.0\r\nUser-Agent: A\r\n" + HostLine(server) +
                                    "\r\nAccept: */*\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                    "Content-Length: 7\r\n\r\na=1&b=2");
}

TEST(SocketReply, ContentLengthEndsTheBody) {
  // A server that keeps the connection open after an announced length does
  // not stall the reply; bytes beyond the length are not part of it.
  ScriptedReply kept = ScriptedReply::Text("hello world");
  kept.head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\n";
  kept.holdOpen = true;
  // Disagreeing lengths leave the body's end in doubt: the reply is refused.
  ScriptedReply twice = ScriptedReply::Text("hello world");
  twice.head = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\ncontent-length:  7\r\nContent-Length: 5\r\n\r\n";
  LoopbackServer server(std::vector<ScriptedReply>{kept, twice});
  ASSERT_TRUE(server.Start());
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({1000, 300});
  ASSERT_TRUE(client.Execute(server.Url(u"/k"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"hello");
  EXPECT_EQ(client.LastError(), 0u);  // the body ended without waiting out the silence bound
  EXPECT_FALSE(client.Execute(server.Url(u"/k"), reqGet, u"A"));
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(EPROTO));
  EXPECT_EQ(client.GetReplyText(), u"hello");
}

TEST(SocketFailure, UnreachableSilentAndClosingServers) {
  GenericHTTPClient client(PlatformHttpSeams());
  client.SetTimeouts({1000, 300});
  std::string url = "http://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) + "/x";
  EXPECT_FALSE(client.Execute(std::u16string(url.begin(), url.end()), reqMultipartPost, u"A"));
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ECONNREFUSED));
  EXPECT_EQ(client.GetReplyText(), u"");

  ScriptedReply slow = ScriptedReply::Text("late but fine");
  slow.delayMs = 100;  // well inside the 300 ms of silence allowed
  LoopbackServer server(
      std::vector<ScriptedReply>{ScriptedReply::Never(), ScriptedReply::CloseAtOnce(), slow});
  ASSERT_TRUE(server.Start());
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Execute(server.Url(u"/never"), reqMultipartPost, u"A"));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ETIMEDOUT));
  EXPECT_LT(waited, std::chrono::seconds(5));  // the injected 300 ms bound, with room for a slow machine
  EXPECT_NE(server.Received(0).find("----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n"), std::string::npos);

  EXPECT_FALSE(client.Execute(server.Url(u"/close"), reqGet, u"A"));
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ECONNRESET));
  EXPECT_TRUE(client.Execute(server.Url(u"/slow"), reqGet, u"A"));
  EXPECT_EQ(client.GetReplyText(), u"late but fine");
}

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(SocketFailure, NoDescriptorLeftOpen) {
  test::TempFile jpeg(u"parlex_fd_test.jpg", test::TinyJpeg());
  size_t before = OpenDescriptors();
  {
    LoopbackServer server(std::vector<ScriptedReply>{ScriptedReply::Text("1"), ScriptedReply::Text(""),
                                                     ScriptedReply::CloseAtOnce(), ScriptedReply::Never()});
    ASSERT_TRUE(server.Start());
    GenericHTTPClient client(PlatformHttpSeams());
    client.SetTimeouts({1000, 200});
    client.AddField(u"upload", jpeg.Path(), true);
    size_t idle = OpenDescriptors();
    // Between requests the client holds nothing open, whatever the outcome.
    EXPECT_TRUE(client.Execute(server.Url(u"/a"), reqMultipartPost, u"A"));
    EXPECT_EQ(OpenDescriptors(), idle);
    EXPECT_FALSE(client.Execute(server.Url(u"/b"), reqMultipartPost, u"A"));
    EXPECT_FALSE(client.Execute(server.Url(u"/c"), reqMultipartPost, u"A"));
    std::string refused = "http://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) + "/";
    EXPECT_FALSE(client.Execute(std::u16string(refused.begin(), refused.end()), reqGet, u"A"));
    EXPECT_EQ(OpenDescriptors(), idle);
    // The server holds its end of a silent connection; the client lets go of its own.
    EXPECT_FALSE(client.Execute(server.Url(u"/d"), reqMultipartPost, u"A"));
    EXPECT_EQ(OpenDescriptors(), idle + 1);
    EXPECT_EQ(client.GetReplyText(), u"1");
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SystemMimeTable, ExtensionsWithoutRegardToCase) {
  EXPECT_EQ(MimeTypeForFile(u"/tmp/shot.jpg", posix::LookupSystemMimeType), u"image/jpeg");
  EXPECT_EQ(MimeTypeForFile(u"/tmp/shot.JPG", posix::LookupSystemMimeType), u"image/jpeg");
  EXPECT_EQ(MimeTypeForFile(u"/tmp/dir.jpg/file", posix::LookupSystemMimeType), kDefaultMimeType);

  test::TempFile file(u"mime.types",
                      "# type  extensions\n"
                      "image/jpeg\t\tjpeg jpg jpe\n"
                      "text/plain  txt # not: md\n"
                      "x-application/too-long-" +
                          std::string(600, 'l') + " big\n");
  std::string table = ToUtf8(file.Path());
  EXPECT_EQ(posix::LookupMimeTypeIn(table, u".JPG"), u"image/jpeg");
  EXPECT_EQ(posix::LookupMimeTypeIn(table, u".txt"), u"text/plain");
  EXPECT_EQ(posix::LookupMimeTypeIn(table, u".md"), u"");
  EXPECT_EQ(posix::LookupMimeTypeIn(table, u".big"), u"");  // does not fit the type's room
  EXPECT_EQ(posix::LookupMimeTypeIn(table, u"jpg"), u"");   // no '.', no key
  EXPECT_EQ(posix::LookupMimeTypeIn(table + ".missing", u".jpg"), u"");
}

}  // namespace
}  // namespace parlex
