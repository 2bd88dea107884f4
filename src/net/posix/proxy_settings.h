// Which proxy a request of the Linux build goes through, decided the way
// desktop Linux programs read their environment:
//
// - "http_proxy" for http, "https_proxy" for https; the lower-case name wins
//   over the upper-case one ("HTTP_PROXY", "HTTPS_PROXY") when both are set.
//   An empty value means no proxy.
// - A value is "[http://][user[:password]@]host[:port]" with an optional
//   trailing "/"; the port defaults to 80. user and password may be
//   percent-encoded and go to the proxy as "Proxy-Authorization: Basic".
//   Any other scheme (socks5://, https://, ...) or a value that cannot be
//   read makes the request fail instead of going around the proxy the
//   machine was told to use: traffic meant for a proxy never leaves directly.
// - "no_proxy" (or "NO_PROXY"): entries separated by commas or blanks, each a
//   host name, a domain ("example.com" and ".example.com" both match the
//   name itself and every name below it; a leading "*." is read as "."), an
//   IP literal (IPv6 with or without brackets), any of them optionally with
//   ":port" to match that port only; "*" alone sends everything direct.
//   Names compare without regard to case and a trailing dot.
// - The machine itself (localhost, names under .localhost, 127.0.0.0/8, ::1)
//   is always reached directly: a proxy elsewhere would reach its own
//   loopback, never this machine's.
//
// Platform-free: the environment comes in as a lookup function.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace parlex {

struct ProxyServer {
  std::string host;  // without brackets for an IPv6 literal
  uint16_t port = 80;
  std::string authorization;  // "Basic ..." or empty
};

// Reads one proxy value. false (and *reason set) when it cannot be used.
bool ParseProxyValue(std::string_view value, ProxyServer* out, std::string* reason);

// Whether a no_proxy list sends host:port direct.
bool NoProxyMatches(std::string_view noProxy, std::string_view host, uint16_t port);

// Whether host names this machine (a name or a loopback literal).
bool IsLoopbackHost(std::string_view host);

struct ProxyDecision {
  enum class Kind { kDirect, kProxy, kUnusable };
  Kind kind = Kind::kDirect;
  ProxyServer proxy;   // with kProxy
  std::string reason;  // with kUnusable
};

// An environment variable's value, or nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

ProxyDecision ChooseProxy(bool secure, std::string_view host, uint16_t port, const EnvironmentLookup& env);
// The same over this process's environment.
ProxyDecision ChooseProxyFromEnvironment(bool secure, std::string_view host, uint16_t port);

// "host:port" as a CONNECT target or an absolute URL's authority (brackets
// around an IPv6 literal).
std::string HostAndPort(std::string_view host, uint16_t port);

}  // namespace parlex
