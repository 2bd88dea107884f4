// Reaching a server through an http proxy over the bounded TcpStream: the
// connection to the proxy and, for https, the CONNECT tunnel through it.
#pragma once

#include <cstdint>
#include <string>

#include "net/posix/proxy_settings.h"
#include "net/posix/tcp_stream.h"

namespace parlex::posix {

// Connects stream to proxy and asks it for a tunnel to host:port
// ("CONNECT host:port HTTP/1.0"), all within timeoutMs. The proxy's reply
// head is read byte by byte so that no byte of the tunnel is taken with it.
// true once the proxy answers 2xx; otherwise the stream is closed, *error
// holds an errno value and *reason says why.
bool OpenProxyTunnel(TcpStream& stream, const ProxyServer& proxy, const std::string& host, uint16_t port,
                     int timeoutMs, int* error, std::string* reason);

// Writes "parlex: <what>" to stderr, for failures the agent never sees.
void LogNetworkFailure(const std::string& what);

}  // namespace parlex::posix
