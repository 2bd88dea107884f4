#include "support/loopback_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace parlex::test {

namespace {

constexpr int kTickMs = 50;

bool SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

int ConnectLoopback(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

constexpr const char* kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                           "HTTPS_PROXY", "no_proxy",   "NO_PROXY"};

void UnsetProxyVariables() {
  for (const char* name : kProxyVariables) ::unsetenv(name);
}

bool IsProxyVariable(const std::string& name) {
  for (const char* known : kProxyVariables)
    if (name == known) return true;
  return false;
}

}  // namespace

ProxyEnvironment::ProxyEnvironment(std::vector<std::pair<std::string, std::string>> variables) {
  UnsetProxyVariables();
  for (const auto& [name, value] : variables) {
    if (IsProxyVariable(name)) {
      ::setenv(name.c_str(), value.c_str(), 1);
    } else {
      others_.push_back(std::make_unique<ScopedEnv>(name, value.c_str()));
    }
  }
}

ProxyEnvironment::~ProxyEnvironment() { UnsetProxyVariables(); }

LoopbackProxy::~LoopbackProxy() { Stop(); }

bool LoopbackProxy::Start() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return false;
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
  return true;
}

std::string LoopbackProxy::Address() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> LoopbackProxy::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::string LoopbackProxy::TunnelledFromClient() {
  std::lock_guard lock(mutex_);
  return tunnelled_;
}

void LoopbackProxy::Stop() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& w : workers) w.join();
  if (listener_ >= 0) {
    ::close(listener_);
    listener_ = -1;
  }
}

void LoopbackProxy::Accept() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, kTickMs) <= 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    workers_.emplace_back([this, client] {
      Serve(client);
      ::close(client);
    });
  }
}

void LoopbackProxy::Serve(int client) {
  using Clock = std::chrono::steady_clock;
  // The head, up to the empty line; what came with it stays in `rest`.
  std::string head;
  std::string rest;
  auto until = Clock::now() + std::chrono::milliseconds(kIdleMs);
  for (;;) {
    size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) {
      rest = head.substr(end + 4);
      head.resize(end + 4);
      break;
    }
    if (stop_ || Clock::now() > until) return;
    pollfd p{client, POLLIN, 0};
    if (::poll(&p, 1, kTickMs) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
    if (head.size() > (1u << 20)) return;
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(head);
  }
  if (mode_ == Mode::kClose) return;
  if (mode_ == Mode::kRefuse) {
    static constexpr char kRefusal[] = "HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
    SendAll(client, kRefusal, sizeof kRefusal - 1);
    return;
  }
  bool tunnel = head.starts_with("CONNECT ");
  int server = ConnectLoopback(targetPort_);
  if (server < 0) {
    static constexpr char kBadGateway[] = "HTTP/1.0 502 Bad Gateway\r\n\r\n";
    SendAll(client, kBadGateway, sizeof kBadGateway - 1);
    return;
  }
  if (tunnel) {
    static constexpr char kEstablished[] = "HTTP/1.0 200 Connection established\r\n\r\n";
    SendAll(client, kEstablished, sizeof kEstablished - 1);
  } else {
    // "VERB http://host:port/path HTTP/1.0" becomes "VERB /path HTTP/1.0".
    size_t verbEnd = head.find(' ');
    size_t scheme = head.find("://", verbEnd);
    size_t pathStart = scheme == std::string::npos ? std::string::npos : head.find('/', scheme + 3);
    if (verbEnd != std::string::npos && pathStart != std::string::npos)
      head.erase(verbEnd + 1, pathStart - verbEnd - 1);
    SendAll(server, head.data(), head.size());
  }
  if (!rest.empty()) {
    SendAll(server, rest.data(), rest.size());
    if (tunnel) {
      std::lock_guard lock(mutex_);
      tunnelled_ += rest;
    }
  }
  // Relay until either side closes or both fall silent for kIdleMs.
  until = Clock::now() + std::chrono::milliseconds(kIdleMs);
  while (!stop_ && Clock::now() < until) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, kTickMs) <= 0) continue;
    bool closed = false;
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[16384];
      ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
      if (n <= 0 || !SendAll(p[1 - i].fd, buffer, static_cast<size_t>(n))) {
        closed = true;
        break;
      }
      if (i == 0 && tunnel) {
        std::lock_guard lock(mutex_);
        tunnelled_.append(buffer, static_cast<size_t>(n));
      }
    }
    if (closed) break;
    until = Clock::now() + std::chrono::milliseconds(kIdleMs);
  }
  ::close(server);
}

}  // namespace parlex::test
