// The one reader of reply heads: what it takes, what it refuses, and where
// the body ends, fed the way the socket transport, the updater and the proxy
// tunnel feed it.
#include <gtest/gtest.h>

#include <string>

#include "net/reply_reader.h"

namespace parlex {
namespace {

using Status = ReplyReader::Status;

// Feeds text in pieces of `step` bytes, then reports the peer's close.
ReplyReader::Source Pieces(const std::string& text, size_t step) {
  auto at = std::make_shared<size_t>(0);
  return [text, step, at](char* buffer, size_t capacity) -> ptrdiff_t {
    size_t n = std::min({step, capacity, text.size() - *at});
    text.copy(buffer, n, *at);
    *at += n;
    return static_cast<ptrdiff_t>(n);
  };
}

Status Read(const std::string& text, ReplyReader* reader, size_t step = 4096) {
  reader->Reset();
  return reader->ReadHead(Pieces(text, step));
}

std::string Body(ReplyReader* reader, const std::string& rest) {
  std::string body;
  auto source = Pieces(rest, 3);
  char buffer[5];
  size_t got = 0;
  while (reader->ReadBody(source, buffer, sizeof buffer, &got) && got > 0) body.append(buffer, got);
  return body;
}

TEST(ReplyReader, StatusLengthAndHeadBlock) {
  ReplyReader r;
  ASSERT_EQ(Read("HTTP/1.1 200 OK\r\nServer: x\r\ncontent-LENGTH:  1234 \r\n\r\n", &r), Status::kOk);
  EXPECT_EQ(r.StatusCode(), 200);
  EXPECT_EQ(r.ContentLength(), 1234);
  EXPECT_EQ(r.StatusLine(), "HTTP/1.1 200 OK");
  ASSERT_EQ(Read("HTTP/1.0 404 Not Found\r\n\r\n", &r), Status::kOk);
  EXPECT_EQ(r.StatusCode(), 404);
  EXPECT_EQ(r.ContentLength(), -1);
  // Bare LF line ends, no reason, blank lines before the status line; one
  // byte at a time as the proxy tunnel reads.
  ASSERT_EQ(Read("\r\n\nHTTP/1.0 407\nProxy-Authenticate: Basic\n\n", &r, 1), Status::kOk);
  EXPECT_EQ(r.StatusCode(), 407);
  EXPECT_EQ(r.HeadBlock(), "HTTP/1.0 407\r\nProxy-Authenticate: Basic\r\n\r\n");
  // The same length twice is one length.
  ASSERT_EQ(Read("HTTP/1.0 200 OK\r\nContent-Length: 7\r\nContent-length: 7\r\n\r\n", &r), Status::kOk);
  EXPECT_EQ(r.ContentLength(), 7);
}

TEST(ReplyReader, RefusesWhatIsNotAReplyOrHasADoubtfulLength) {
  ReplyReader r;
  for (const char* bad :
       {"<html>\r\n\r\n", "SSH-2.0-OpenSSH\r\n", "HTTP/1.1 2000 OK\r\n\r\n", "HTTP/1.1 20x OK\r\n\r\n",
        "HTTP/1.1\r\n\r\n", "HTTP/1.0 200OK\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 1234567890123456789\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"}) {
    EXPECT_EQ(Read(bad, &r), Status::kMalformed) << bad;
    EXPECT_FALSE(r.HeadComplete()) << bad;
  }
  EXPECT_EQ(Read("HTTP/1.", &r), Status::kClosedEarly);
  EXPECT_EQ(Read("HTTP/1.0 200 OK\r\n" + std::string(ReplyReader::kMaxHeadBytes, 'x'), &r),
            Status::kTooLarge);
  r.Reset();
  EXPECT_EQ(r.ReadHead([](char*, size_t) -> ptrdiff_t { return -1; }), Status::kSourceFailed);
}

TEST(ReplyReader, BodyEndsAtTheAnnouncedLengthOrTheClose) {
  ReplyReader r;
  // Body bytes that came with the head come first; nothing past the length
  // is taken, even when the server sends more and keeps the line open.
  ASSERT_EQ(Read("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabc", &r, 64), Status::kOk);
  EXPECT_EQ(Body(&r, "defEXTRA"), "abcdef");
  ASSERT_EQ(Read("HTTP/1.0 200 OK\r\n\r\nab", &r, 64), Status::kOk);
  EXPECT_EQ(Body(&r, "cdefgh"), "abcdefgh");
  ASSERT_EQ(Read("HTTP/1.0 204 No Content\r\nContent-Length: 0\r\n\r\n", &r), Status::kOk);
  EXPECT_EQ(Body(&r, "junk"), "");
}

}  // namespace
}  // namespace parlex
