// Reads an HTTP reply as it comes off a byte stream: first the status line
// and header lines, then the body. Every reader of a reply head in the
// program goes through it: the client's socket transport, the updater's
// downloads and the proxy's answer to a CONNECT. It takes any byte source,
// so it is also fed raw bytes directly.
//
// The head is refused (kMalformed) when the first line is not
// "HTTP/x.y NNN[ reason]", when a Content-Length is not a plain decimal
// number, or when two Content-Length lines disagree: a body whose end is in
// doubt is not taken, whatever reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace parlex {

class ReplyReader {
 public:
  // Longest head taken (status line, header lines and the empty line).
  static constexpr size_t kMaxHeadBytes = 65536;

  enum class Status {
    kOk,
    kSourceFailed,  // the source reported an error or a wait ran out
    kClosedEarly,   // the peer closed before the head was complete
    kTooLarge,      // the head is longer than kMaxHeadBytes
    kMalformed,     // not an HTTP reply head (see above)
  };

  // Reads up to capacity bytes into buffer; answers the count, 0 once the peer
  // has closed, -1 on failure.
  using Source = std::function<ptrdiff_t(char* buffer, size_t capacity)>;

  void Reset();

  // Reads until the head is complete. Body bytes that came along are kept for
  // ReadBody.
  Status ReadHead(const Source& source);
  bool HeadComplete() const { return complete_; }

  // Takes bytes of the head; answers how many were used (the rest is body)
  // through *used, kOk once the head is complete and kClosedEarly while more
  // is wanted. A caller that must not read past the head feeds it a byte at
  // a time.
  Status Consume(std::string_view bytes, size_t* used);

  // Of a complete head: the status code, and the announced body length (-1
  // when none was announced).
  int StatusCode() const { return status_; }
  int64_t ContentLength() const { return hasLength_ ? length_ : -1; }
  // The status line as it came, without its line end.
  std::string_view StatusLine() const;

  // The head with every line ending in CR LF (bare LF ends are made CR LF),
  // closed by an empty line.
  const std::string& HeadBlock() const { return block_; }

  // The next body bytes (those that came with the head first); *got == 0 once
  // the peer has closed, or once as many bytes as the Content-Length line
  // announced have come (a server that keeps the connection open does not
  // stall the reply). False when the source fails.
  bool ReadBody(const Source& source, char* buffer, size_t capacity, size_t* got);

 private:
  bool TakeStatusLine(std::string_view line);
  bool TakeHeaderLine(std::string_view line);

  std::string block_;
  std::string line_;
  std::string pending_;  // body bytes that arrived with the head
  size_t headBytes_ = 0;
  int status_ = 0;
  bool hasLength_ = false;
  int64_t length_ = 0;
  int64_t remaining_ = 0;  // body bytes still to come when hasLength_
  bool sawStatus_ = false;
  bool complete_ = false;
};

}  // namespace parlex
