// A blocking TCP connection whose every wait is bounded, with TLS on demand.
// Shared by the HTTP client's socket transport, the updater's remote files
// and the proxy tunnel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/unique_fd.h"

struct ssl_st;
struct ssl_ctx_st;

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

  // Runs the TLS handshake on the connected socket, waiting at most
  // timeoutMs: TLS 1.2 or newer, the server's certificate checked against
  // the system's trust store (OpenSSL's default paths, so SSL_CERT_FILE and
  // SSL_CERT_DIR add a company CA) and against serverName, a host name (also
  // sent as SNI) or an IP address. There is no way to skip the check. Once
  // it succeeded SendAll and Receive go through TLS; nothing is sent before.
  // On failure the connection is closed, LastErrorText() says why and one
  // line "parlex: https to host:port failed: <why>" goes to stderr (port:
  // logPort, or the connected one when 0, as a tunnel's is not the server's).
  bool StartTls(const std::string& serverName, int timeoutMs, uint16_t logPort = 0);
  bool IsSecure() const { return ssl_ != nullptr; }

  // Sends every byte; fails when the peer takes nothing for idleMs.
  bool SendAll(const void* data, size_t length, int idleMs);

  // Receives up to capacity bytes. Answers the count, 0 when the peer has
  // closed, -1 on an error or after idleMs without a byte.
  ptrdiff_t Receive(void* buffer, size_t capacity, int idleMs);

  void Close();
  bool IsOpen() const { return fd_.IsOpen(); }

  // A descriptor that becomes readable when the connection is to be given
  // up (another thread's abort); -1 for none. Every wait also watches it,
  // and once it is readable every send, receive and wait fails with
  // ECANCELED. Not owned: it must outlive the stream's use of it.
  void SetAbortFd(int fd) { abortFd_ = fd; }
  // errno of the last failure (ETIMEDOUT for a wait that ran out).
  int LastError() const { return error_; }
  // The last failure in words: the TLS reason ("certificate has expired")
  // or the system's text for LastError().
  std::string LastErrorText() const;

 private:
  bool WaitFor(short events, int timeoutMs);
  // The abort descriptor is readable (then error_ is ECANCELED).
  bool Aborted();
  bool WaitForTls(int sslError, int timeoutMs);
  bool FailTls(int error, std::string text, const std::string& serverName, uint16_t port);

  UniqueFd fd_;
  int abortFd_ = -1;
  int error_ = 0;
  uint16_t port_ = 0;
  std::string errorText_;
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
};

}  // namespace parlex::posix
