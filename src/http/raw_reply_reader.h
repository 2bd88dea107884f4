// Reads a raw HTTP reply as it comes off a byte stream: first the status line
// and header lines, then the body until the peer closes. Transports that
// speak HTTP themselves (the socket transport) use it; it takes any byte
// source, so it is also fed raw bytes directly.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace parlex {

class RawReplyReader {
 public:
  // Longest head taken (status line, header lines and the empty line).
  static constexpr size_t kMaxHeadBytes = 65536;

  enum class Status {
    kOk,
    kSourceFailed,  // the source reported an error or a wait ran out
    kClosedEarly,   // the peer closed before the head was complete
    kTooLarge,      // the head is longer than kMaxHeadBytes
    kMalformed,     // the first line is not an HTTP status line
  };

  // Reads up to capacity bytes into buffer; answers the count, 0 once the peer
  // has closed, -1 on failure.
  using Source = std::function<ptrdiff_t(char* buffer, size_t capacity)>;

  void Reset();

  // Reads until the head is complete. Body bytes that came along are kept for
  // ReadBody.
  Status ReadHead(const Source& source);
  bool HeadComplete() const { return complete_; }

  // The next body bytes (those that came with the head first); *got == 0 once
  // the peer has closed, or once as many bytes as a Content-Length line
  // announced have come (a server that keeps the connection open does not
  // stall the reply). False when the source fails.
  bool ReadBody(const Source& source, char* buffer, size_t capacity, size_t* got);

  // The head with every line ending in CR LF (bare LF ends are made CR LF),
  // closed by an empty line.
  const std::string& HeadBlock() const { return block_; }

  // Takes bytes of the head; answers how many were used (the rest is body)
  // through *used, and kOk once the head is complete.
  Status Consume(std::string_view bytes, size_t* used);

 private:
  void TakeHeaderLine(std::string_view line);

  std::string block_;
  std::string line_;
  std::string pending_;  // body bytes that arrived with the head
  size_t headBytes_ = 0;
  bool hasLength_ = false;
  bool lengthConflict_ = false;
  size_t remaining_ = 0;  // body bytes still to come when hasLength_
  bool sawStatus_ = false;
  bool complete_ = false;
};

}  // namespace parlex
