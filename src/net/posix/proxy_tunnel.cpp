#include "net/posix/proxy_tunnel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "common/support_log.h"
#include "common/text.h"
#include "net/reply_reader.h"

namespace parlex::posix {

void LogNetworkFailure(const std::string& what) {
  std::fprintf(stderr, "parlex: %s\n", what.c_str());
  supportlog::Warning("proxy", FromUtf8(what));
}

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

  // A byte at a time, so that no byte of the tunnel is taken with the head.
  ReplyReader reply;
  for (;;) {
    int left = remaining();
    if (left == 0) return fail(ETIMEDOUT, "the proxy " + proxyName + " did not answer in time");
    char c = 0;
    ptrdiff_t got = stream.Receive(&c, 1, left);
    if (got == 0) return fail(ECONNRESET, "the proxy " + proxyName + " closed without a tunnel to " + target);
    if (got < 0) return fail(stream.LastError(), "the proxy " + proxyName + " did not answer in time");
    size_t used = 0;
    ReplyReader::Status status = reply.Consume(std::string_view(&c, 1), &used);
    if (status == ReplyReader::Status::kOk) break;
    if (status == ReplyReader::Status::kTooLarge)
      return fail(EMSGSIZE, "the proxy " + proxyName + " reply is too large");
    if (status == ReplyReader::Status::kMalformed)
      return fail(EPROTO, "the proxy " + proxyName + " does not speak HTTP");
  }
  if (reply.StatusCode() < 200 || reply.StatusCode() > 299) {
    return fail(ECONNREFUSED, "the proxy " + proxyName + " refused a tunnel to " + target + ": " +
                                  std::string(reply.StatusLine()));
  }
  return true;
}

}  // namespace parlex::posix
