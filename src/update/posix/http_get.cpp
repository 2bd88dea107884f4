#include "update/posix/http_get.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "http/posix/proxy_settings.h"
#include "http/posix/proxy_tunnel.h"
#include "http/posix/request_target.h"

namespace parlex::update::posix {

using parlex::ProxyDecision;

namespace {

constexpr size_t kMaxHeadBytes = 64 * 1024;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

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
    return url.size() >= scheme.size() && EqualsNoCase(url.substr(0, scheme.size()), scheme);
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

bool ParseReplyHead(std::string_view head, ReplyHead* out) {
  size_t lineEnd = head.find('\n');
  std::string_view statusLine = Trim(head.substr(0, lineEnd));
  // "HTTP/x.y 200 OK"
  if (statusLine.size() < 12 || statusLine.substr(0, 5) != "HTTP/") return false;
  size_t space = statusLine.find(' ');
  if (space == std::string_view::npos || statusLine.size() < space + 4) return false;
  int64_t status = 0;
  if (!ParseCount(statusLine.substr(space + 1, 3), &status)) return false;
  if (statusLine.size() > space + 4 && statusLine[space + 4] != ' ') return false;
  ReplyHead h;
  h.status = static_cast<int>(status);
  while (lineEnd != std::string_view::npos) {
    size_t start = lineEnd + 1;
    lineEnd = head.find('\n', start);
    std::string_view line =
        Trim(head.substr(start, lineEnd == std::string_view::npos ? lineEnd : lineEnd - start));
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (EqualsNoCase(Trim(line.substr(0, colon)), "content-length")) {
      int64_t length = 0;
      // A length we cannot read is treated as a broken reply: the body could
      // not be checked for completeness.
      if (!ParseCount(Trim(line.substr(colon + 1)), &length)) return false;
      if (h.contentLength >= 0 && h.contentLength != length) return false;
      h.contentLength = length;
    }
  }
  *out = h;
  return true;
}

bool HttpGet::Open(const HttpUrl& url, std::string_view userAgent, int waitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  auto remaining = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(left, 0));
  };

  std::string hostHeader = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  if (url.port != (url.secure ? 443 : 80)) hostHeader += ":" + std::to_string(url.port);
  std::string requestTarget = url.target;
  std::string proxyLines;
  ProxyDecision route = parlex::ChooseProxyFromEnvironment(url.secure, url.host, url.port);
  if (route.kind == ProxyDecision::Kind::kUnusable) {
    parlex::posix::LogNetworkFailure(route.reason);
    return false;
  }
  if (route.kind == ProxyDecision::Kind::kProxy && url.secure) {
    // https goes through a tunnel the proxy cannot read; TLS runs inside it.
    int error = 0;
    std::string reason;
    if (!parlex::posix::OpenProxyTunnel(stream_, route.proxy, url.host, url.port, waitMs, &error, &reason)) {
      parlex::posix::LogNetworkFailure(reason);
      return false;
    }
  } else if (route.kind == ProxyDecision::Kind::kProxy) {
    if (!stream_.Connect(route.proxy.host, route.proxy.port, waitMs)) {
      parlex::posix::LogNetworkFailure("cannot reach the proxy " +
                                       parlex::HostAndPort(route.proxy.host, route.proxy.port));
      return false;
    }
    // A proxy is told the whole address; the Host line stays the server's.
    requestTarget = "http://" + hostHeader + url.target;
    if (!route.proxy.authorization.empty())
      proxyLines = "\r\nProxy-Authorization: " + route.proxy.authorization;
  } else if (!stream_.Connect(url.host, url.port, waitMs)) {
    return false;
  }
  if (url.secure && !stream_.StartTls(url.host, std::max(remaining(), 1), url.port)) return false;
  std::string request = "GET " + requestTarget + " HTTP/1.0\r\nHost: " + hostHeader + proxyLines +
                        "\r\nUser-Agent: " + std::string(userAgent) +
                        "\r\nAccept: */*\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n\r\n";
  if (!stream_.SendAll(request.data(), request.size(), std::max(remaining(), 1))) return false;

  // The whole head must arrive within the bound: a server that trickles or
  // stays silent does not hold up the start.
  std::string received;
  char buffer[4096];
  for (;;) {
    int left = remaining();
    if (left == 0) return false;
    ptrdiff_t got = stream_.Receive(buffer, sizeof buffer, left);
    if (got <= 0) return false;
    received.append(buffer, static_cast<size_t>(got));
    size_t end = received.find("\r\n\r\n");
    size_t skip = 4;
    if (end == std::string::npos) {
      end = received.find("\n\n");
      skip = 2;
    }
    if (end != std::string::npos) {
      if (!ParseReplyHead(std::string_view(received).substr(0, end + skip), &head_)) return false;
      pending_ = received.substr(end + skip);
      return true;
    }
    if (received.size() > kMaxHeadBytes) return false;
  }
}

ptrdiff_t HttpGet::Read(void* buffer, size_t capacity, int idleMs) {
  size_t want = capacity;
  if (head_.contentLength >= 0) {
    int64_t left = head_.contentLength - delivered_;
    if (left <= 0) return 0;
    want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(capacity)));
  }
  if (want == 0) return 0;
  ptrdiff_t got;
  if (!pending_.empty()) {
    size_t n = std::min(want, pending_.size());
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(0, n);
    got = static_cast<ptrdiff_t>(n);
  } else {
    got = stream_.Receive(buffer, want, idleMs);
  }
  if (got > 0) delivered_ += got;
  return got;
}

}  // namespace parlex::update::posix
