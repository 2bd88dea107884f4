// An HTTP GET over the bounded TCP stream (TLS for https), for the updater's
// two remote files: the request goes out as HTTP/1.0 (so the body is never chunked),
// the reply's status line and headers are read, and the body is then read
// in pieces up to the announced length or the server's close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/posix/tcp_stream.h"

namespace parlex::update::posix {

// An "http://" or "https://host[:port]/path" URL taken apart (the port
// defaults to 80 and 443). Other schemes, user info and empty hosts are
// refused; spaces, controls and non-ASCII bytes of the path
// and query are percent-encoded, the fragment is dropped.
struct HttpUrl {
  std::string host;  // without brackets for an IPv6 literal
  uint16_t port = 80;
  bool secure = false;  // https: TLS with the certificate checked
  std::string target;   // path and query, at least "/"
  // The URL as it is requested.
  std::string Text() const;
};
bool SplitHttpUrl(std::string_view url, HttpUrl* out);

// The status code and Content-Length of a reply head (status line and
// header lines up to the empty line). false when it is not an HTTP reply.
struct ReplyHead {
  int status = 0;
  int64_t contentLength = -1;  // -1: none announced
};
bool ParseReplyHead(std::string_view head, ReplyHead* out);

// Through an http proxy (see http/posix/proxy_settings.h) the request line
// carries the absolute "http://host[:port]/path".
class HttpGet {
 public:
  // Connects (with TLS and its checks for https, before any request byte),
  // sends the request and reads the reply head, all of it within waitMs.
  // false when any of that fails.
  bool Open(const HttpUrl& url, std::string_view userAgent, int waitMs);

  const ReplyHead& Head() const { return head_; }
  // Body bytes, like TcpStream::Receive: count, 0 at the end (the announced
  // length reached or the server closed), -1 on error or idleMs of silence.
  ptrdiff_t Read(void* buffer, size_t capacity, int idleMs);

 private:
  parlex::posix::TcpStream stream_;
  ReplyHead head_;
  std::string pending_;  // body bytes that arrived with the head
  int64_t delivered_ = 0;
};

}  // namespace parlex::update::posix
