// Reaching a server for one HTTP request, the way both the client's socket
// transport and the updater do it: directly, through the http proxy the
// environment names (plain http: the request goes to the proxy with an
// absolute target), or through a CONNECT tunnel (https), and then TLS with
// the server's certificate checked for https. Failures the agent never sees
// are logged to stderr in one line.
#pragma once

#include <cstdint>
#include <string>

#include "net/posix/tcp_stream.h"

namespace parlex::posix {

// What the request head must say for the route that was taken.
struct ServerRoute {
  std::string hostLine;            // the Host line's "host[:port]"
  bool proxied = false;            // plain http through a proxy
  std::string proxyAuthorization;  // the proxy's "Basic ..." value, if any

  // The request line's target for a path ("/x?y"): absolute through a proxy.
  std::string Target(const std::string& path) const;
  // "Proxy-Authorization: ...\r\n" when the proxy wants it, else empty.
  std::string ProxyLines() const;
};

// Connects stream to host:port (secure: https) along the route the proxy
// settings choose, the tunnel and the TLS handshake included, all within
// timeoutMs. false with *error (an errno value) when any of it fails.
bool ConnectToServer(TcpStream& stream, bool secure, const std::string& host, uint16_t port, int timeoutMs,
                     ServerRoute* route, int* error);

}  // namespace parlex::posix
