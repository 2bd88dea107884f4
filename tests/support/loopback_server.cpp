#include "support/loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace parlex::test {

namespace {

#ifdef _WIN32
using Sock = SOCKET;
const uintptr_t kNoSocket = static_cast<uintptr_t>(INVALID_SOCKET);
void CloseSock(uintptr_t s) { ::closesocket(static_cast<Sock>(s)); }
#else
using Sock = int;
const uintptr_t kNoSocket = static_cast<uintptr_t>(-1);
void CloseSock(uintptr_t s) { ::close(static_cast<Sock>(s)); }
#endif

using Clock = std::chrono::steady_clock;

// Waits up to ms for the socket to become readable (or writable).
bool Ready(uintptr_t s, bool write, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<Sock>(s), &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  int n = ::select(static_cast<int>(s) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv);
  return n > 0;
}

void SendAll(uintptr_t s, std::string_view data) {
  while (!data.empty()) {
    if (!Ready(s, true, LoopbackServer::kReadIdleMs)) return;
    int chunk = static_cast<int>(std::min<size_t>(data.size(), 1 << 16));
    int n = ::send(static_cast<Sock>(s), data.data(), chunk, 0);
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// True once bytes hold a request head and as much body as its Content-Length says.
bool RequestComplete(const std::string& bytes) {
  size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::string head = bytes.substr(0, end + 2);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  size_t length = 0;
  size_t at = head.find("\r\ncontent-length:");
  if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
  return bytes.size() >= end + 4 + length;
}

}  // namespace

ScriptedReply ScriptedReply::Text(std::string body) {
  ScriptedReply r;
  r.body = std::move(body);
  return r;
}

ScriptedReply ScriptedReply::Never() {
  ScriptedReply r;
  r.mode = Mode::kNeverAnswer;
  return r;
}

ScriptedReply ScriptedReply::CloseAtOnce() {
  ScriptedReply r;
  r.mode = Mode::kCloseWithoutReply;
  return r;
}

LoopbackServer::LoopbackServer(std::vector<ScriptedReply> replies)
    : replies_(std::move(replies)), listener_(kNoSocket) {}

LoopbackServer::LoopbackServer(ScriptedReply reply) : LoopbackServer(std::vector<ScriptedReply>{reply}) {}

LoopbackServer::~LoopbackServer() {
  Stop();
#ifdef _WIN32
  if (winsockStarted_) ::WSACleanup();
#endif
}

bool LoopbackServer::Start() {
#ifdef _WIN32
  if (!winsockStarted_) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    winsockStarted_ = true;
  }
#endif
  Sock s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (static_cast<uintptr_t>(s) == kNoSocket) return false;
  listener_ = static_cast<uintptr_t>(s);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 8) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    CloseSock(listener_);
    listener_ = kNoSocket;
    return false;
  }
  port_ = ntohs(addr.sin_port);
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

std::u16string LoopbackServer::Url(std::u16string_view path) const {
  std::string port = std::to_string(port_);
  std::u16string url = u"http://127.0.0.1:";
  url.append(port.begin(), port.end());
  url += path;
  return url;
}

void LoopbackServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != kNoSocket) {
    CloseSock(listener_);
    listener_ = kNoSocket;
  }
  for (uintptr_t s : held_) CloseSock(s);
  held_.clear();
  std::lock_guard lock(mutex_);
  for (auto& c : conns_) c.done = true;
  changed_.notify_all();
}

std::string LoopbackServer::Received(size_t n, int waitMs) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                    [&] { return n < conns_.size() && conns_[n].done; });
  return n < conns_.size() ? conns_[n].bytes : std::string();
}

size_t LoopbackServer::Connections() {
  std::lock_guard lock(mutex_);
  return conns_.size();
}

bool LoopbackServer::Sleep(int ms) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return !stop_;
}

void LoopbackServer::Serve() {
  while (!stop_) {
    if (!Ready(listener_, false, 20)) continue;
    Sock s = ::accept(static_cast<Sock>(listener_), nullptr, nullptr);
    if (static_cast<uintptr_t>(s) == kNoSocket) continue;
    size_t index;
    {
      std::lock_guard lock(mutex_);
      index = conns_.size();
      conns_.emplace_back();
    }
    // A silent connection is parked, open, until Stop(), so the next
    // connections are still served.
    if (Handle(static_cast<uintptr_t>(s), index)) {
      held_.push_back(static_cast<uintptr_t>(s));
    } else {
      CloseSock(static_cast<uintptr_t>(s));
    }
    std::lock_guard lock(mutex_);
    conns_[index].done = true;
    changed_.notify_all();
  }
}

bool LoopbackServer::Handle(uintptr_t s, size_t index) {
  if (index >= replies_.size()) return false;
  const ScriptedReply& reply = replies_[index];
  // Read the request.
  std::string bytes;
  char chunk[16384];
  auto lastByte = Clock::now();
  while (!stop_ && bytes.size() < kMaxRequestBytes && !RequestComplete(bytes)) {
    if (!Ready(s, false, 20)) {
      if (Clock::now() - lastByte > std::chrono::milliseconds(kReadIdleMs)) break;
      continue;
    }
    int n = ::recv(static_cast<Sock>(s), chunk, sizeof chunk, 0);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
    lastByte = Clock::now();
    std::lock_guard lock(mutex_);
    conns_[index].bytes = bytes;
  }
  {
    std::lock_guard lock(mutex_);
    conns_[index].done = true;
    changed_.notify_all();
  }
  switch (reply.mode) {
    case ScriptedReply::Mode::kAnswer:
      if (!Sleep(reply.delayMs)) return false;
      SendAll(s, reply.head);
      SendAll(s, reply.body);
      return reply.holdOpen;
    case ScriptedReply::Mode::kNeverAnswer:
      return true;
    case ScriptedReply::Mode::kCloseWithoutReply:
      return false;
  }
  return false;
}

}  // namespace parlex::test
