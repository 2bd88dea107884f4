#include "net/posix/proxy_settings.h"

#include <cstdlib>
#include <vector>

#include "common/text.h"

namespace parlex {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out->push_back(s[i]);
      continue;
    }
    if (i + 2 >= s.size()) return false;
    int hi = HexValue(s[i + 1]);
    int lo = HexValue(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                 static_cast<uint8_t>(bytes[i + 2]);
    out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
  }
  if (i + 1 == bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == bytes.size()) {
    uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
  }
  return out;
}

bool ParsePort(std::string_view s, uint16_t* port) {
  if (s.empty() || s.size() > 5) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v < 1 || v > 65535) return false;
  *port = static_cast<uint16_t>(v);
  return true;
}

// Splits "host[:port]" / "[v6][:port]" / a bare IPv6 literal. port stays 0
// when none is given.
bool SplitHostPort(std::string_view s, std::string* host, uint16_t* port) {
  *port = 0;
  if (!s.empty() && s.front() == '[') {
    size_t close = s.find(']');
    if (close == std::string_view::npos) return false;
    *host = std::string(s.substr(1, close - 1));
    std::string_view after = s.substr(close + 1);
    if (after.empty()) return !host->empty();
    return after.front() == ':' && ParsePort(after.substr(1), port) && !host->empty();
  }
  size_t colon = s.find(':');
  if (colon != std::string_view::npos && s.find(':', colon + 1) == std::string_view::npos) {
    *host = std::string(s.substr(0, colon));
    return ParsePort(s.substr(colon + 1), port) && !host->empty();
  }
  *host = std::string(s);  // a name, or an IPv6 literal without brackets
  return !host->empty();
}

std::string CanonicalHost(std::string_view host) {
  if (!host.empty() && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  while (!host.empty() && host.back() == '.') host.remove_suffix(1);
  return AsciiLower(host);
}

bool IsLoopbackV4(std::string_view host) {
  // Four dotted decimal parts, the first 127.
  int parts = 0;
  size_t start = 0;
  std::string_view first;
  for (;;) {
    size_t dot = host.find('.', start);
    std::string_view part = host.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (part.empty() || part.size() > 3) return false;
    for (char c : part)
      if (c < '0' || c > '9') return false;
    if (parts == 0) first = part;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4 && first == "127";
}

}  // namespace

bool ParseProxyValue(std::string_view value, ProxyServer* out, std::string* reason) {
  value = Trim(value);
  size_t scheme = value.find("://");
  if (scheme != std::string_view::npos) {
    if (!StartsWithIgnoringCase(value, "http://")) {
      *reason = "proxy scheme not supported: " + std::string(value.substr(0, scheme));
      return false;
    }
    value.remove_prefix(scheme + 3);
  }
  // Everything after the authority ("/", a path) means nothing for a proxy.
  std::string_view authority = value.substr(0, value.find_first_of("/?#"));
  ProxyServer proxy;
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userInfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    size_t colon = userInfo.find(':');
    std::string user, password;
    if (!PercentDecode(userInfo.substr(0, colon), &user) ||
        (colon != std::string_view::npos && !PercentDecode(userInfo.substr(colon + 1), &password))) {
      *reason = "proxy user name or password is not readable";
      return false;
    }
    proxy.authorization = "Basic " + Base64(user + ":" + password);
  }
  uint16_t port = 0;
  // A bare IPv6 literal cannot be told from host:port; it needs brackets.
  if (authority.find(':') != authority.rfind(':') && authority.front() != '[') {
    *reason = "proxy address is not readable: " + std::string(authority);
    return false;
  }
  if (authority.empty() || !SplitHostPort(authority, &proxy.host, &port)) {
    *reason = "proxy address is not readable: " + std::string(authority);
    return false;
  }
  for (char c : proxy.host) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) {
      *reason = "proxy address is not readable";
      return false;
    }
  }
  proxy.port = port != 0 ? port : 80;
  *out = std::move(proxy);
  return true;
}

bool IsLoopbackHost(std::string_view rawHost) {
  std::string host = CanonicalHost(rawHost);
  if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"))) return true;
  if (host == "::1" || host == "0:0:0:0:0:0:0:1") return true;
  if (StartsWithIgnoringCase(host, "::ffff:")) return IsLoopbackV4(std::string_view(host).substr(7));
  return IsLoopbackV4(host);
}

bool NoProxyMatches(std::string_view noProxy, std::string_view rawHost, uint16_t port) {
  std::string host = CanonicalHost(rawHost);
  size_t start = 0;
  while (start <= noProxy.size()) {
    size_t end = noProxy.find_first_of(", \t", start);
    if (end == std::string_view::npos) end = noProxy.size();
    std::string_view entry = noProxy.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    if (entry == "*") return true;
    std::string name;
    uint16_t entryPort = 0;
    if (!SplitHostPort(entry, &name, &entryPort)) continue;
    if (entryPort != 0 && entryPort != port) continue;
    if (name.starts_with("*.")) name.erase(0, 1);
    if (!name.empty() && name.front() == '.') name.erase(0, 1);
    name = CanonicalHost(name);
    if (name.empty()) continue;
    if (host == name) return true;
    if (host.size() > name.size() && host.ends_with(name) && host[host.size() - name.size() - 1] == '.')
      return true;
  }
  return false;
}

ProxyDecision ChooseProxy(bool secure, std::string_view host, uint16_t port, const EnvironmentLookup& env) {
  ProxyDecision decision;
  if (IsLoopbackHost(host)) return decision;
  auto lookup = [&](const char* lower, const char* upper) -> std::string_view {
    const char* v = env(lower);
    if (v == nullptr) v = env(upper);
    return v == nullptr ? std::string_view() : std::string_view(v);
  };
  std::string_view value =
      Trim(secure ? lookup("https_proxy", "HTTPS_PROXY") : lookup("http_proxy", "HTTP_PROXY"));
  if (value.empty()) return decision;
  if (NoProxyMatches(lookup("no_proxy", "NO_PROXY"), host, port)) return decision;
  if (!ParseProxyValue(value, &decision.proxy, &decision.reason)) {
    decision.kind = ProxyDecision::Kind::kUnusable;
    return decision;
  }
  decision.kind = ProxyDecision::Kind::kProxy;
  return decision;
}

ProxyDecision ChooseProxyFromEnvironment(bool secure, std::string_view host, uint16_t port) {
  return ChooseProxy(secure, host, port, [](const char* name) { return std::getenv(name); });
}

std::string HostAndPort(std::string_view host, uint16_t port) {
  std::string text =
      host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]" : std::string(host);
  return text + ":" + std::to_string(port);
}

}  // namespace parlex
