#include "net/posix/tcp_stream.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/support_log.h"
#include "common/text.h"

namespace parlex::posix {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// getaddrinfo has no timeout of its own. A name that is not a numeric
// address is looked up on a helper thread; if the deadline passes first, the
// lookup is abandoned and frees its own result when it ends.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  int rc = EAI_AGAIN;
  int error = 0;
  addrinfo* found = nullptr;
};

int Resolve(const std::string& host, const std::string& service, Clock::time_point deadline, addrinfo** found,
            int* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, found);
  if (rc != EAI_NONAME) {
    *error = errno;
    return rc;
  }
  hints.ai_flags = 0;
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, host, service, hints] {
      addrinfo* result = nullptr;
      int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
      int savedErrno = errno;
      std::lock_guard lock(lookup->mutex);
      if (lookup->abandoned) {
        if (code == 0) ::freeaddrinfo(result);
        return;
      }
      lookup->rc = code;
      lookup->error = savedErrno;
      lookup->found = result;
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    *error = EAGAIN;
    return EAI_SYSTEM;
  }
  std::unique_lock lock(lookup->mutex);
  if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
    lookup->abandoned = true;
    *error = ETIMEDOUT;
    return EAI_SYSTEM;
  }
  *found = lookup->found;
  *error = lookup->error;
  return lookup->rc;
}

// OpenSSL writes to the socket with write(2), which raises SIGPIPE when the
// peer has gone and would end the whole program. While a TLS call runs the
// signal is held back for this thread, and one it raised is taken off again,
// so a vanished server is an ordinary failed write (EPIPE).
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~PipeSignalHeld() {
    sigset_t pending;
    sigpending(&pending);
    if (!pendingBefore_ && sigismember(&pending, SIGPIPE) == 1) {
      timespec none{0, 0};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool pendingBefore_ = false;
};

}  // namespace

TcpStream::~TcpStream() { Close(); }

TcpStream::TcpStream(TcpStream&& other) noexcept { *this = std::move(other); }

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::move(other.fd_);
    abortFd_ = other.abortFd_;
    error_ = other.error_;
    port_ = other.port_;
    errorText_ = std::move(other.errorText_);
    ctx_ = other.ctx_;
    ssl_ = other.ssl_;
    other.ctx_ = nullptr;
    other.ssl_ = nullptr;
  }
  return *this;
}

std::string TcpStream::LastErrorText() const {
  if (!errorText_.empty()) return errorText_;
  return std::strerror(error_);
}

void TcpStream::Close() {
  if (ssl_ != nullptr) {
    // One close_notify without waiting for the peer's; the socket goes next.
    if (SSL_is_init_finished(ssl_)) {
      PipeSignalHeld held;
      SSL_shutdown(ssl_);
    }
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (ctx_ != nullptr) {
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
  }
  fd_.Close();
}

bool TcpStream::Aborted() {
  if (abortFd_ < 0) return false;
  pollfd p{abortFd_, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  error_ = ECANCELED;
  return true;
}

bool TcpStream::WaitFor(short events, int timeoutMs) {
  pollfd p[2] = {{fd_.get(), events, 0}, {abortFd_, POLLIN, 0}};
  const nfds_t count = abortFd_ >= 0 ? 2 : 1;
  for (;;) {
    int n = ::poll(p, count, timeoutMs);
    if (n > 0 && count == 2 && p[1].revents != 0) {
      error_ = ECANCELED;
      return false;
    }
    if (n > 0) return true;
    if (n == 0) {
      error_ = ETIMEDOUT;
      return false;
    }
    if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

bool TcpStream::Connect(const std::string& host, uint16_t port, int timeoutMs) {
  Close();
  errorText_.clear();
  port_ = port;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo* found = nullptr;
  int lookupError = 0;
  if (int rc = Resolve(host, std::to_string(port), deadline, &found, &lookupError); rc != 0) {
    error_ = rc == EAI_SYSTEM ? lookupError : EHOSTUNREACH;
    return false;
  }
  error_ = ECONNREFUSED;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      error_ = errno;
      continue;
    }
    fd_.Reset(fd);
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      if (WaitFor(POLLOUT, RemainingMs(deadline))) {
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        rc = soError == 0 ? 0 : -1;
        if (soError != 0) error_ = soError;
      }
    } else if (rc != 0) {
      error_ = errno;
    }
    if (rc == 0) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::freeaddrinfo(found);
      error_ = 0;
      return true;
    }
    Close();
    if (RemainingMs(deadline) == 0) {
      error_ = ETIMEDOUT;
      break;
    }
  }
  ::freeaddrinfo(found);
  return false;
}

bool TcpStream::SendAll(const void* data, size_t length, int idleMs) {
  if (!fd_) {
    error_ = ENOTCONN;
    return false;
  }
  if (Aborted()) return false;
  auto p = static_cast<const char*>(data);
  while (ssl_ != nullptr && length > 0) {
    size_t sent = 0;
    ERR_clear_error();
    PipeSignalHeld held;
    if (SSL_write_ex(ssl_, p, length, &sent) == 1) {
      p += sent;
      length -= sent;
      continue;
    }
    if (!WaitForTls(SSL_get_error(ssl_, 0), idleMs)) return false;
  }
  while (length > 0) {
    ssize_t n = ::send(fd_.get(), p, length, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(POLLOUT, idleMs)) return false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    error_ = n < 0 ? errno : EPIPE;
    return false;
  }
  return true;
}

ptrdiff_t TcpStream::Receive(void* buffer, size_t capacity, int idleMs) {
  if (!fd_) {
    error_ = ENOTCONN;
    return -1;
  }
  if (Aborted()) return -1;
  while (ssl_ != nullptr) {
    size_t got = 0;
    ERR_clear_error();
    PipeSignalHeld held;
    if (SSL_read_ex(ssl_, buffer, capacity, &got) == 1) return static_cast<ptrdiff_t>(got);
    int reason = SSL_get_error(ssl_, 0);
    // A peer that closes (with or without close_notify) ends the stream like
    // a plain close: HTTP/1.0 replies end that way.
    if (reason == SSL_ERROR_ZERO_RETURN) return 0;
    if (!WaitForTls(reason, idleMs)) return -1;
  }
  for (;;) {
    ssize_t n = ::recv(fd_.get(), buffer, capacity, 0);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(POLLIN, idleMs)) return -1;
      continue;
    }
    if (errno == EINTR) continue;
    error_ = errno;
    return -1;
  }
}

bool TcpStream::WaitForTls(int sslError, int timeoutMs) {
  if (sslError == SSL_ERROR_WANT_READ) return WaitFor(POLLIN, timeoutMs);
  if (sslError == SSL_ERROR_WANT_WRITE) return WaitFor(POLLOUT, timeoutMs);
  error_ = sslError == SSL_ERROR_SYSCALL && errno != 0 ? errno : EPROTO;
  unsigned long code = ERR_peek_error();
  if (code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    errorText_ = text;
  }
  return false;
}

bool TcpStream::FailTls(int error, std::string text, const std::string& serverName, uint16_t port) {
  error_ = error;
  errorText_ = std::move(text);
  std::string host = serverName.find(':') != std::string::npos ? "[" + serverName + "]" : serverName;
  std::fprintf(stderr, "parlex: https to %s:%u failed: %s\n", host.c_str(), static_cast<unsigned>(port),
               errorText_.c_str());
  supportlog::Warning("tls",
                      FromUtf8("https to " + host + ":" + std::to_string(port) + " failed: " + errorText_));
  Close();
  return false;
}

bool TcpStream::StartTls(const std::string& serverName, int timeoutMs, uint16_t logPort) {
  if (logPort == 0) logPort = port_;
  if (!fd_ || ssl_ != nullptr) return FailTls(ENOTCONN, "not connected", serverName, logPort);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  ERR_clear_error();
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (ctx_ == nullptr || SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_default_verify_paths(ctx_) != 1) {
    return FailTls(ENOMEM, "TLS could not be set up", serverName, logPort);
  }
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  ssl_ = SSL_new(ctx_);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_.get()) != 1) {
    return FailTls(ENOMEM, "TLS could not be set up", serverName, logPort);
  }
  // An address is checked against the certificate's IP entries; a name
  // against its DNS names, and only a name goes out as SNI.
  in6_addr probe;
  bool isAddress = ::inet_pton(AF_INET, serverName.c_str(), &probe) == 1 ||
                   ::inet_pton(AF_INET6, serverName.c_str(), &probe) == 1;
  if (isAddress) {
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), serverName.c_str()) != 1) {
      return FailTls(EINVAL, "bad server address", serverName, logPort);
    }
  } else if (serverName.empty() || SSL_set1_host(ssl_, serverName.c_str()) != 1 ||
             SSL_set_tlsext_host_name(ssl_, serverName.c_str()) != 1) {
    return FailTls(EINVAL, "bad server name", serverName, logPort);
  }
  for (;;) {
    ERR_clear_error();
    int rc;
    {
      PipeSignalHeld held;
      rc = SSL_connect(ssl_);
    }
    if (rc == 1) break;
    int reason = SSL_get_error(ssl_, rc);
    if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
      if (WaitFor(reason == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, RemainingMs(deadline))) continue;
      return FailTls(ETIMEDOUT, "TLS handshake timed out", serverName, logPort);
    }
    long verify = SSL_get_verify_result(ssl_);
    unsigned long code = ERR_peek_error();
    if (verify != X509_V_OK) {
      return FailTls(EPROTO,
                     std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify),
                     serverName, logPort);
    }
    if (ERR_GET_LIB(code) == ERR_LIB_SSL && (ERR_GET_REASON(code) == SSL_R_WRONG_VERSION_NUMBER ||
                                             ERR_GET_REASON(code) == SSL_R_PACKET_LENGTH_TOO_LONG)) {
      return FailTls(EPROTO, "not TLS: the server answered in plain text", serverName, logPort);
    }
    if (code != 0) {
      char text[256];
      ERR_error_string_n(code, text, sizeof text);
      return FailTls(EPROTO, std::string("TLS handshake failed: ") + text, serverName, logPort);
    }
    return FailTls(reason == SSL_ERROR_SYSCALL && errno != 0 ? errno : ECONNRESET,
                   "TLS handshake failed: the server closed the connection", serverName, logPort);
  }
  // SSL_VERIFY_PEER has already failed the handshake on a bad chain; this
  // stays as the one place that decides whether bytes may go out.
  if (SSL_get_verify_result(ssl_) != X509_V_OK || SSL_get0_peer_certificate(ssl_) == nullptr) {
    return FailTls(EPROTO, "certificate verify failed", serverName, logPort);
  }
  return true;
}

}  // namespace parlex::posix
