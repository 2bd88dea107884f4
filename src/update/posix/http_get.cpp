#include "update/posix/http_get.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/text.h"
#include "net/posix/server_connection.h"
#include "net/request_target.h"

namespace parlex::update::posix {

namespace {

// Whole decimal number without sign; false on anything else or overflow.
bool ParseCount(std::string_view s, int64_t* out) {
  if (s.empty() || s.size() > 18) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

}  // namespace

std::string HttpUrl::Text() const {
  std::string hostText = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return (secure ? "https://" : "http://") + hostText +
         (port == (secure ? 443 : 80) ? "" : ":" + std::to_string(port)) + target;
}

bool SplitHttpUrl(std::string_view url, HttpUrl* out) {
  auto hasScheme = [&](std::string_view scheme) {
    return url.size() >= scheme.size() && EqualsIgnoringCase(url.substr(0, scheme.size()), scheme);
  };
  HttpUrl u;
  if (hasScheme("https://")) {
    u.secure = true;
    u.port = 443;
    url.remove_prefix(8);
  } else if (hasScheme("http://")) {
    url.remove_prefix(7);
  } else {
    return false;
  }
  size_t end = url.find_first_of("/?#");
  std::string_view authority = url.substr(0, end);
  std::string_view rest = end == std::string_view::npos ? std::string_view() : url.substr(end);
  if (authority.find('@') != std::string_view::npos) return false;
  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    u.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      portText = after.substr(1);
    }
  } else {
    size_t colon = authority.rfind(':');
    u.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
  }
  if (u.host.empty()) return false;
  if (!portText.empty()) {
    int64_t port = 0;
    if (!ParseCount(portText, &port) || port < 1 || port > 65535) return false;
    u.port = static_cast<uint16_t>(port);
  }
  // The fragment never goes to the server.
  rest = rest.substr(0, rest.find('#'));
  std::string target = EncodeRequestTarget(rest);
  u.target = std::move(target);
  *out = std::move(u);
  return true;
}

bool HttpGet::Open(const HttpUrl& url, std::string_view userAgent, int waitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  auto remaining = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(left, 0));
  };
  reply_.Reset();
  parlex::posix::ServerRoute route;
  int error = 0;
  if (!parlex::posix::ConnectToServer(stream_, url.secure, url.host, url.port, waitMs, &route, &error))
    return false;
  std::string request = "GET " + route.Target(url.target) + " HTTP/1.0\r\nHost: " + route.hostLine + "\r\n" +
                        route.ProxyLines() + "User-Agent: " + std::string(userAgent) +
                        "\r\nAccept: */*\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n\r\n";
  if (!stream_.SendAll(request.data(), request.size(), std::max(remaining(), 1))) return false;

  // The whole head must arrive within the bound: a server that trickles or
  // stays silent does not hold up the start.
  ReplyReader::Source source = [&](char* buffer, size_t capacity) -> ptrdiff_t {
    int left = remaining();
    return left == 0 ? -1 : stream_.Receive(buffer, capacity, left);
  };
  return reply_.ReadHead(source) == ReplyReader::Status::kOk;
}

ptrdiff_t HttpGet::Read(void* buffer, size_t capacity, int idleMs) {
  size_t got = 0;
  ReplyReader::Source source = [&](char* into, size_t room) { return stream_.Receive(into, room, idleMs); };
  if (!reply_.HeadComplete() || !reply_.ReadBody(source, static_cast<char*>(buffer), capacity, &got))
    return -1;
  return static_cast<ptrdiff_t>(got);
}

}  // namespace parlex::update::posix
