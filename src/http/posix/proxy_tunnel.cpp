#include "http/posix/proxy_tunnel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace parlex::posix {

namespace {

constexpr size_t kMaxReplyHeadBytes = 16 * 1024;

}  // namespace

void LogNetworkFailure(const std::string& what) { std::fprintf(stderr, "parlex: %s\n", what.c_str()); }

bool OpenProxyTunnel(TcpStream& stream, const ProxyServer& proxy, const std::string& host, uint16_t port,
                     int timeoutMs, int* error, std::string* reason) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto remaining = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(left, 0));
  };
  auto fail = [&](int code, std::string why) {
    stream.Close();
    *error = code;
    *reason = std::move(why);
    return false;
  };
  const std::string proxyName = HostAndPort(proxy.host, proxy.port);
  if (!stream.Connect(proxy.host, proxy.port, timeoutMs))
    return fail(stream.LastError(), "cannot reach the proxy " + proxyName);
  const std::string target = HostAndPort(host, port);
  std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
  if (!proxy.authorization.empty()) request += "Proxy-Authorization: " + proxy.authorization + "\r\n";
  request += "\r\n";
  if (!stream.SendAll(request.data(), request.size(), std::max(remaining(), 1)))
    return fail(stream.LastError(), "the proxy " + proxyName + " took no request");

  std::string head;
  for (;;) {
    int left = remaining();
    if (left == 0) return fail(ETIMEDOUT, "the proxy " + proxyName + " did not answer in time");
    char c = 0;
    ptrdiff_t got = stream.Receive(&c, 1, left);
    if (got == 0) return fail(ECONNRESET, "the proxy " + proxyName + " closed without a tunnel to " + target);
    if (got < 0) return fail(stream.LastError(), "the proxy " + proxyName + " did not answer in time");
    head.push_back(c);
    if (head.ends_with("\r\n\r\n") || head.ends_with("\n\n")) break;
    if (head.size() > kMaxReplyHeadBytes)
      return fail(EMSGSIZE, "the proxy " + proxyName + " reply is too large");
  }
  int status = ProxyReplyStatus(head);
  if (status < 0) return fail(EPROTO, "the proxy " + proxyName + " does not speak HTTP");
  if (status < 200 || status > 299) {
    std::string line = head.substr(0, head.find_first_of("\r\n"));
    return fail(ECONNREFUSED, "the proxy " + proxyName + " refused a tunnel to " + target + ": " + line);
  }
  return true;
}

}  // namespace parlex::posix
