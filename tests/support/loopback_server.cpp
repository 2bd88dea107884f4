#include "support/loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
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

#ifndef _WIN32
SSL* AsSsl(void* tls) { return static_cast<SSL*>(tls); }
#endif

// Whether a byte can be read now or within ms (TLS may hold some already).
bool Readable(uintptr_t s, void* tls, int ms) {
#ifndef _WIN32
  if (tls != nullptr && SSL_pending(AsSsl(tls)) > 0) return true;
#else
  (void)tls;
#endif
  return Ready(s, false, ms);
}

int ReceiveSome(uintptr_t s, [[maybe_unused]] void* tls, char* buffer, int capacity) {
#ifndef _WIN32
  if (tls != nullptr) return SSL_read(AsSsl(tls), buffer, capacity);
#endif
  return ::recv(static_cast<Sock>(s), buffer, capacity, 0);
}

void SendAll(uintptr_t s, [[maybe_unused]] void* tls, std::string_view data) {
  while (!data.empty()) {
    if (!Ready(s, true, LoopbackServer::kReadIdleMs)) return;
    int chunk = static_cast<int>(std::min<size_t>(data.size(), 1 << 16));
#ifndef _WIN32
    int n = tls != nullptr ? SSL_write(AsSsl(tls), data.data(), chunk)
                           : ::send(static_cast<Sock>(s), data.data(), chunk, 0);
#else
    int n = ::send(static_cast<Sock>(s), data.data(), chunk, 0);
#endif
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// The server's side of the handshake on a blocking socket, bounded by the
// socket's own time limits. Null when it fails (a client that refused the
// certificate, or one that spoke plain text).
void* AcceptTls(uintptr_t s, void* context) {
#ifndef _WIN32
  if (context == nullptr) return nullptr;
  timeval tv{LoopbackServer::kReadIdleMs / 1000, 0};
  ::setsockopt(static_cast<Sock>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(static_cast<Sock>(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context));
  if (ssl == nullptr) return nullptr;
  if (SSL_set_fd(ssl, static_cast<Sock>(s)) != 1 || SSL_accept(ssl) != 1) {
    SSL_free(ssl);
    return nullptr;
  }
  return ssl;
#else
  (void)s;
  (void)context;
  return nullptr;
#endif
}

std::string SentServerName([[maybe_unused]] void* tls) {
#ifndef _WIN32
  const char* name = SSL_get_servername(AsSsl(tls), TLSEXT_NAMETYPE_host_name);
  if (name != nullptr) return name;
#endif
  return {};
}

void EndTls(void* tls) {
#ifndef _WIN32
  if (tls == nullptr) return;
  SSL_shutdown(AsSsl(tls));
  SSL_free(AsSsl(tls));
#else
  (void)tls;
#endif
}

// The request head in lower case, up to its last line end; empty while the
// head is incomplete.
std::string LowerHead(const std::string& bytes, size_t* end) {
  *end = bytes.find("\r\n\r\n");
  if (*end == std::string::npos) return {};
  std::string head = bytes.substr(0, *end + 2);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return head;
}

// True once bytes hold a request head and as much body as its Content-Length says.
bool RequestComplete(const std::string& bytes) {
  size_t end = 0;
  std::string head = LowerHead(bytes, &end);
  if (head.empty()) return false;
  size_t length = 0;
  size_t at = head.find("\r\ncontent-length:");
  if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
  return bytes.size() >= end + 4 + length;
}

// A client that asked to be told to go on before its body (curl does for
// large uploads) has its whole head in and is waiting.
bool WaitsForContinue(const std::string& bytes) {
  size_t end = 0;
  std::string head = LowerHead(bytes, &end);
  return !head.empty() && bytes.size() == end + 4 &&
         head.find("\r\nexpect: 100-continue") != std::string::npos;
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

ScriptedReply Reply::Scripted() const {
  ScriptedReply r;
  if (silent) {
    r.mode = ScriptedReply::Mode::kNeverAnswer;
    return r;
  }
  r.head = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Error") + "\r\n";
  int64_t length = announced == -2 ? static_cast<int64_t>(body.size()) : announced;
  if (length >= 0) r.head += "Content-Length: " + std::to_string(length) + "\r\n";
  r.head += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
  r.body = body;
  r.pauseAfter = pauseAfter;
  r.pauseMs = pauseMs;
  r.fillerUpTo = fillerUpTo;
  return r;
}

namespace {

// "GET /path HTTP/1.0": the target of a request's first line.
std::string TargetOf(const std::string& request) {
  size_t start = request.find(' ');
  if (start == std::string::npos) return {};
  size_t end = request.find(' ', start + 1);
  if (end == std::string::npos) return {};
  return request.substr(start + 1, end - start - 1);
}

}  // namespace

LoopbackServer::LoopbackServer(std::vector<ScriptedReply> replies)
    : replies_(std::move(replies)), listener_(kNoSocket) {}

LoopbackServer::LoopbackServer(ScriptedReply reply) : LoopbackServer(std::vector<ScriptedReply>{reply}) {}

LoopbackServer::~LoopbackServer() {
  Stop();
#ifndef _WIN32
  SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
#endif
#ifdef _WIN32
  if (winsockStarted_) ::WSACleanup();
#endif
}

bool LoopbackServer::UseTls(const std::string& certFile, const std::string& keyFile) {
#ifndef _WIN32
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr || SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context);
    return false;
  }
  SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
  tlsContext_ = context;
  return true;
#else
  (void)certFile;
  (void)keyFile;
  return false;
#endif
}

bool LoopbackServer::Start(uint16_t port) {
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
  addr.sin_port = htons(port);
  socklen_t len = sizeof addr;
  if (port != 0) {
    // A fixed port freed by an earlier test is taken again at once.
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  }
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
  std::u16string url = tlsContext_ != nullptr ? u"https://127.0.0.1:" : u"http://127.0.0.1:";
  url.append(port.begin(), port.end());
  url += path;
  return url;
}

std::string LoopbackServer::UrlText(const std::string& path) const {
  return (tlsContext_ != nullptr ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + "/" +
         path;
}

void LoopbackServer::Set(const std::string& path, Reply reply) { Route("/" + path, reply.Scripted()); }

void LoopbackServer::Route(const std::string& target, ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  routes_[target] = std::move(reply);
}

std::vector<std::string> LoopbackServer::Requests() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> heads;
  for (const Conn& c : conns_) {
    size_t end = c.bytes.find("\r\n\r\n");
    if (end != std::string::npos) heads.push_back(c.bytes.substr(0, end + 4));
  }
  return heads;
}

void LoopbackServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != kNoSocket) {
    CloseSock(listener_);
    listener_ = kNoSocket;
  }
  std::lock_guard lock(mutex_);
  for (auto [s, tls] : held_) {
    EndTls(tls);
    CloseSock(s);
  }
  held_.clear();
  for (auto& c : conns_) c.done = true;
  changed_.notify_all();
}

std::string LoopbackServer::Received(size_t n, int waitMs) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                    [&] { return n < conns_.size() && conns_[n].done; });
  return n < conns_.size() ? conns_[n].bytes : std::string();
}

std::string LoopbackServer::ServerName(size_t n) {
  std::lock_guard lock(mutex_);
  return n < conns_.size() ? conns_[n].serverName : std::string();
}

size_t LoopbackServer::Connections() {
  std::lock_guard lock(mutex_);
  return conns_.size();
}

uint64_t LoopbackServer::FillerSent() {
  std::lock_guard lock(mutex_);
  return fillerSent_;
}

bool LoopbackServer::Sleep(int ms) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return !stop_;
}

void LoopbackServer::Serve() {
  // One thread per connection: a slow, paused or silent reply never holds up
  // the next connection.
  std::vector<std::thread> handlers;
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
    handlers.emplace_back([this, s, index] {
      auto sock = static_cast<uintptr_t>(s);
      void* tls = nullptr;
      // A failed handshake is a connection that delivered no request.
      bool hold = false;
      if (tlsContext_ != nullptr && (tls = AcceptTls(sock, tlsContext_)) != nullptr) {
        std::lock_guard lock(mutex_);
        conns_[index].serverName = SentServerName(tls);
      }
      if (tlsContext_ == nullptr || tls != nullptr) hold = Handle(sock, tls, index);
      std::lock_guard lock(mutex_);
      // A silent connection is parked, open, until Stop().
      if (hold) {
        held_.emplace_back(sock, tls);
      } else {
        EndTls(tls);
        CloseSock(sock);
      }
      conns_[index].done = true;
      changed_.notify_all();
    });
  }
  for (std::thread& t : handlers) t.join();
}

bool LoopbackServer::Handle(uintptr_t s, void* tls, size_t index) {
  bool routed = false;
  {
    std::lock_guard lock(mutex_);
    routed = !routes_.empty();
  }
  if (!routed && index >= replies_.size()) return false;
  if (!routed && replies_[index].mode == ScriptedReply::Mode::kCloseUnread) return false;
  if (!routed && replies_[index].mode == ScriptedReply::Mode::kHoldUnread) return true;
  // Read the request.
  std::string bytes;
  char chunk[16384];
  auto lastByte = Clock::now();
  bool continued = false;
  while (!stop_ && bytes.size() < kMaxRequestBytes && !RequestComplete(bytes)) {
    if (!continued && WaitsForContinue(bytes)) {
      SendAll(s, tls, "HTTP/1.1 100 Continue\r\n\r\n");
      continued = true;
    }
    if (!Readable(s, tls, 20)) {
      if (Clock::now() - lastByte > std::chrono::milliseconds(kReadIdleMs)) break;
      continue;
    }
    int n = ReceiveSome(s, tls, chunk, sizeof chunk);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
    lastByte = Clock::now();
    std::lock_guard lock(mutex_);
    conns_[index].bytes.append(chunk, static_cast<size_t>(n));
  }
  ScriptedReply reply;
  {
    std::lock_guard lock(mutex_);
    conns_[index].done = true;
    changed_.notify_all();
    auto route = routes_.find(TargetOf(bytes));
    if (route != routes_.end()) {
      reply = route->second;
    } else if (index < replies_.size()) {
      reply = replies_[index];
    } else {
      reply = Reply{404, "<html><body>Not Found</body></html>"}.Scripted();
    }
  }
  switch (reply.mode) {
    case ScriptedReply::Mode::kAnswer: {
      if (!Sleep(reply.delayMs)) return false;
      SendAll(s, tls, reply.head);
      if (reply.dripMs > 0) {
        for (size_t i = 0; i < reply.body.size(); ++i) {
          if (i > 0 && !Sleep(reply.dripMs)) return false;
          SendAll(s, tls, std::string_view(reply.body).substr(i, 1));
        }
        return reply.holdOpen;
      }
      size_t first = reply.pauseMs > 0 ? std::min(reply.pauseAfter, reply.body.size()) : reply.body.size();
      SendAll(s, tls, std::string_view(reply.body).substr(0, first));
      if (first < reply.body.size()) {
        if (!Sleep(reply.pauseMs)) return false;
        SendAll(s, tls, std::string_view(reply.body).substr(first));
      }
      if (reply.fillerUpTo > 0) SendFiller(s, tls, reply.fillerUpTo);
      return reply.holdOpen;
    }
    case ScriptedReply::Mode::kNeverAnswer:
      return true;
    case ScriptedReply::Mode::kCloseWithoutReply:
    case ScriptedReply::Mode::kCloseUnread:
    case ScriptedReply::Mode::kHoldUnread:
      return false;
  }
  return false;
}

void LoopbackServer::SendFiller(uintptr_t s, void* tls, uint64_t upTo) {
  const std::string chunk(1 << 16, 'x');
  uint64_t sent = 0;
  while (!stop_ && sent < upTo && Ready(s, true, kReadIdleMs)) {
    const int length = static_cast<int>(std::min<uint64_t>(chunk.size(), upTo - sent));
#ifndef _WIN32
    const int n = tls != nullptr
                      ? SSL_write(AsSsl(tls), chunk.data(), length)
                      : static_cast<int>(::send(static_cast<Sock>(s), chunk.data(), length, MSG_NOSIGNAL));
#else
    (void)tls;
    const int n = ::send(static_cast<Sock>(s), chunk.data(), length, 0);
#endif
    if (n <= 0) return;  // the client hung up
    sent += static_cast<uint64_t>(n);
    std::lock_guard lock(mutex_);
    fillerSent_ += static_cast<uint64_t>(n);
  }
}

uint16_t ClosedLoopbackPort() {
  LoopbackServer gone;
  if (!gone.Start()) return 0;
  const uint16_t port = gone.Port();
  gone.Stop();
  return port;
}

}  // namespace parlex::test
