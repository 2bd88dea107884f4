#include "http/posix/tcp_stream.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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

}  // namespace

TcpStream::~TcpStream() { Close(); }

TcpStream::TcpStream(TcpStream&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    error_ = other.error_;
    other.fd_ = -1;
  }
  return *this;
}

void TcpStream::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool TcpStream::WaitFor(short events, int timeoutMs) {
  pollfd p{fd_, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, timeoutMs);
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
    fd_ = fd;
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
  if (fd_ < 0) {
    error_ = ENOTCONN;
    return false;
  }
  auto p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
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
  if (fd_ < 0) {
    error_ = ENOTCONN;
    return -1;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, capacity, 0);
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

}  // namespace parlex::posix
