// An HTTP GET over the bounded TCP stream (TLS for https), for the updater's
// two remote files: the request goes out as HTTP/1.0 (so the body is never chunked),
// the reply's status line and headers are read, and the body is then read
// in pieces up to the announced length or the server's close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/posix/tcp_stream.h"
#include "net/reply_reader.h"

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

// Through an http proxy (see net/posix/proxy_settings.h) the request line
// carries the absolute "http://host[:port]/path".
class HttpGet {
 public:
  // Connects (with TLS and its checks for https, before any request byte),
  // sends the request and reads the reply head, all of it within waitMs.
  // false when any of that fails.
  bool Open(const HttpUrl& url, std::string_view userAgent, int waitMs);

  // Of the reply head: the status code and the announced length (-1: none).
  int Status() const { return reply_.StatusCode(); }
  int64_t ContentLength() const { return reply_.ContentLength(); }
  // Body bytes, like TcpStream::Receive: count, 0 at the end (the announced
  // length reached or the server closed), -1 on error or idleMs of silence.
  ptrdiff_t Read(void* buffer, size_t capacity, int idleMs);

 private:
  parlex::posix::TcpStream stream_;
  ReplyReader reply_;
};

}  // namespace parlex::update::posix
