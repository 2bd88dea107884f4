// Splitting the client's URLs into scheme, host, port and path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace parlex {

struct UrlParts {
  std::u16string scheme;
  std::u16string host;
  // The port as written (digits up to the first other character, 0 without
  // digits), saturated at 65536 so an out-of-range port stays out of range;
  // otherwise 443 for exactly "https" and 80 for every other scheme.
  uint32_t port = 0;
  // From the '/' that ends the authority, that '/' included; empty when the
  // authority runs to the end of the URL.
  std::u16string path;
};

// "scheme://authority/path" or "authority/path" (scheme "http"). A ':' in the
// authority always introduces the port; there is no user information.
UrlParts SplitUrl(std::u16string_view url);

}  // namespace parlex
