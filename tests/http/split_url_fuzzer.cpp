// SplitUrl over arbitrary UTF-16 text: never reads outside the URL, and the
// parts it returns are pieces of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/split_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string url(size / 2, u'\0');
  for (size_t i = 0; i < url.size(); ++i)
    url[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  parlex::UrlParts parts = parlex::SplitUrl(url);
  if (parts.host.size() > url.size() || parts.path.size() > url.size()) std::abort();
  if (url.find(parts.host) == std::u16string::npos || url.find(parts.path) == std::u16string::npos)
    std::abort();
  if (!parts.path.empty() && parts.path[0] != u'/') std::abort();
  if (parts.port > 65536) std::abort();
  return 0;
}
