#include "update/loopback_server.h"

#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#define CLOSE_SOCKET closesocket
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
#define CLOSE_SOCKET close
#endif

namespace parlex::update::testing {

namespace {

// Waits at most ms for the socket to become readable.
bool Readable(intptr_t s, int ms) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(s), &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) > 0;
#else
  pollfd p{static_cast<int>(s), POLLIN, 0};
  return poll(&p, 1, ms) > 0;
#endif
}

bool SendAll(intptr_t s, const char* data, size_t length) {
  while (length > 0) {
    int n =
        static_cast<int>(send(static_cast<decltype(socket(0, 0, 0))>(s), data, static_cast<int>(length), 0));
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

LoopbackServer::LoopbackServer() {
#ifdef _WIN32
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
#endif
}

LoopbackServer::~LoopbackServer() {
  Stop();
#ifdef _WIN32
  WSACleanup();
#endif
}

bool LoopbackServer::Start(uint16_t port) {
  auto s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == static_cast<decltype(s)>(-1)) return false;
#ifndef _WIN32
  // A fixed port must be usable again right after an earlier test's server.
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  SocketLength len = sizeof addr;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    CLOSE_SOCKET(s);
    return false;
  }
  listener_ = static_cast<intptr_t>(s);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void LoopbackServer::Stop() {
  stop_ = true;
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (listener_ != -1) {
    CLOSE_SOCKET(static_cast<decltype(socket(0, 0, 0))>(listener_));
    listener_ = -1;
  }
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

void LoopbackServer::Set(const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

std::vector<std::string> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackServer::Serve() {
  std::vector<std::thread> clients;
  while (!stop_) {
    if (!Readable(listener_, 50)) continue;
    auto client = accept(static_cast<decltype(socket(0, 0, 0))>(listener_), nullptr, nullptr);
    if (client == static_cast<decltype(client)>(-1)) continue;
    // One thread per connection: a silent or paused reply must not hold up
    // the next request.
    clients.emplace_back([this, client] {
      Answer(static_cast<intptr_t>(client));
      CLOSE_SOCKET(client);
    });
  }
  for (std::thread& t : clients) t.join();
}

void LoopbackServer::Answer(intptr_t client) {
  auto s = static_cast<decltype(socket(0, 0, 0))>(client);
  std::string head;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (stop_ || std::chrono::steady_clock::now() > deadline) return;
    if (!Readable(client, 50)) continue;
    char buffer[2048];
    int n = static_cast<int>(recv(s, buffer, sizeof buffer, 0));
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
  }
  Reply reply;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(head);
    // "GET /path HTTP/1.x"
    size_t start = head.find(' ') + 1;
    std::string path = head.substr(start + 1, head.find(' ', start) - start - 1);
    auto it = replies_.find(path);
    if (it != replies_.end()) {
      reply = it->second;
      found = true;
    }
  }
  if (!found) reply = Reply{404, "<html><body>Not Found</body></html>"};
  if (reply.silent) {
    // Hold the connection open without a word until the test is over.
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::seconds(60), [this] { return stop_.load(); });
    return;
  }
  std::string out =
      "HTTP/1.1 " + std::to_string(reply.status) + (reply.status == 200 ? " OK" : " Error") + "\r\n";
  int64_t length = reply.announced == -2 ? static_cast<int64_t>(reply.body.size()) : reply.announced;
  if (length >= 0) out += "Content-Length: " + std::to_string(length) + "\r\n";
  out += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
  if (!SendAll(client, out.data(), out.size())) return;
  size_t first = reply.pauseMs > 0 ? std::min(reply.pauseAfter, reply.body.size()) : reply.body.size();
  if (!SendAll(client, reply.body.data(), first)) return;
  if (reply.pauseMs > 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(reply.pauseMs), [this] { return stop_.load(); });
    if (stop_) return;
    lock.unlock();
    SendAll(client, reply.body.data() + first, reply.body.size() - first);
  }
#ifndef _WIN32
  shutdown(s, SHUT_WR);
#else
  shutdown(s, SD_SEND);
#endif
}

}  // namespace parlex::update::testing
