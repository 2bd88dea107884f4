// The proxy variables as the environment may hold them: a proxy value, a
// no_proxy list and a host split at the first two NUL bytes of the input,
// and a proxy's reply head. Nothing reads outside its input, and what is
// read back stays within the rules the transports rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/posix/proxy_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t first = input.find('\0');
  std::string_view value = input.substr(0, first);
  std::string_view rest = first == std::string_view::npos ? std::string_view() : input.substr(first + 1);
  size_t second = rest.find('\0');
  std::string_view noProxy = rest.substr(0, second);
  std::string_view host = second == std::string_view::npos ? std::string_view() : rest.substr(second + 1);

  parlex::ProxyServer proxy;
  std::string reason;
  if (parlex::ParseProxyValue(value, &proxy, &reason)) {
    if (proxy.host.empty() || proxy.port == 0) std::abort();
    for (char c : proxy.host)
      if (static_cast<unsigned char>(c) <= ' ') std::abort();
    if (!proxy.authorization.empty() && proxy.authorization.rfind("Basic ", 0) != 0) std::abort();
  } else if (reason.empty()) {
    std::abort();
  }
  const uint16_t port = size > 0 ? static_cast<uint16_t>(data[0] | (data[size - 1] << 8)) : 80;
  // A list that matches keeps matching with more entries; "*" sends everything direct.
  if (parlex::NoProxyMatches(noProxy, host, port) &&
      !parlex::NoProxyMatches(std::string(noProxy) + ",other.invalid", host, port))
    std::abort();
  if (!parlex::NoProxyMatches(std::string(noProxy) + ",*", host, port)) std::abort();
  (void)parlex::IsLoopbackHost(host);
  return 0;
}
