#include "net/posix/server_connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "net/posix/proxy_tunnel.h"
#include "net/posix/proxy_settings.h"

namespace parlex::posix {

std::string ServerRoute::Target(const std::string& path) const {
  // A proxy is told the whole address; the Host line stays the server's.
  return proxied ? "http://" + hostLine + path : path;
}

std::string ServerRoute::ProxyLines() const {
  return proxied && !proxyAuthorization.empty() ? "Proxy-Authorization: " + proxyAuthorization + "\r\n"
                                                : std::string();
}

bool ConnectToServer(TcpStream& stream, bool secure, const std::string& host, uint16_t port, int timeoutMs,
                     ServerRoute* route, int* error) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto remaining = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(left, 1));
  };
  auto fail = [&](int code) {
    stream.Close();
    *error = code;
    return false;
  };
  *route = ServerRoute();
  if (host.empty()) return fail(EINVAL);
  ProxyDecision choice = ChooseProxyFromEnvironment(secure, host, port);
  if (choice.kind == ProxyDecision::Kind::kUnusable) {
    LogNetworkFailure(choice.reason);
    return fail(EINVAL);
  }
  if (choice.kind == ProxyDecision::Kind::kProxy && secure) {
    // https goes through a tunnel the proxy cannot read; TLS runs inside it.
    int tunnelError = 0;
    std::string reason;
    if (!OpenProxyTunnel(stream, choice.proxy, host, port, timeoutMs, &tunnelError, &reason)) {
      LogNetworkFailure(reason);
      return fail(tunnelError);
    }
  } else if (choice.kind == ProxyDecision::Kind::kProxy) {
    if (!stream.Connect(choice.proxy.host, choice.proxy.port, timeoutMs)) {
      LogNetworkFailure("cannot reach the proxy " + HostAndPort(choice.proxy.host, choice.proxy.port));
      return fail(stream.LastError());
    }
    route->proxied = true;
    route->proxyAuthorization = choice.proxy.authorization;
  } else if (!stream.Connect(host, port, timeoutMs)) {
    return fail(stream.LastError());
  }
  // "https" is TLS with the certificate checked, or nothing at all: never a
  // plain request to a server that was meant to be private.
  if (secure && !stream.StartTls(host, remaining(), port)) return fail(stream.LastError());
  route->hostLine = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != (secure ? 443 : 80)) route->hostLine += ":" + std::to_string(port);
  return true;
}

}  // namespace parlex::posix
