// A blocking TCP connection whose every wait is bounded. Shared by the HTTP
// client's socket transport and the updater's remote files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parlex::posix {

class TcpStream {
 public:
  TcpStream() = default;
  ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;
  TcpStream(TcpStream&& other) noexcept;
  TcpStream& operator=(TcpStream&& other) noexcept;

  // Resolves host (a name or a numeric address) and connects to the first
  // address that answers, waiting at most timeoutMs in all, the name lookup
  // included.
  bool Connect(const std::string& host, uint16_t port, int timeoutMs);

  // Sends every byte; fails when the peer takes nothing for idleMs.
  bool SendAll(const void* data, size_t length, int idleMs);

  // Receives up to capacity bytes. Answers the count, 0 when the peer has
  // closed, -1 on an error or after idleMs without a byte.
  ptrdiff_t Receive(void* buffer, size_t capacity, int idleMs);

  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // errno of the last failure (ETIMEDOUT for a wait that ran out).
  int LastError() const { return error_; }

 private:
  bool WaitFor(short events, int timeoutMs);

  int fd_ = -1;
  int error_ = 0;
};

}  // namespace parlex::posix
