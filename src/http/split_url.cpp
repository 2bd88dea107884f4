#include "http/split_url.h"

namespace parlex {

UrlParts SplitUrl(std::u16string_view url) {
  UrlParts parts;
  size_t authority = 0;
  size_t colon = url.find(u':');
  if (colon != std::u16string_view::npos && colon + 1 < url.size() && url[colon + 1] == u'/') {
    parts.scheme = url.substr(0, colon);
    // Skips "://"; a URL that ends right after ":/" has an empty authority.
    authority = colon + 3 <= url.size() ? colon + 3 : url.size();
  } else {
    parts.scheme = u"http";
  }
  size_t slash = url.find(u'/', authority);
  size_t authorityEnd = slash == std::u16string_view::npos ? url.size() : slash;
  std::u16string_view auth = url.substr(authority, authorityEnd - authority);
  size_t portColon = auth.find(u':');
  if (portColon != std::u16string_view::npos) {
    parts.host = auth.substr(0, portColon);
    uint32_t port = 0;
    for (size_t i = portColon + 1; i < auth.size() && auth[i] >= u'0' && auth[i] <= u'9'; ++i) {
      port = port * 10 + static_cast<uint32_t>(auth[i] - u'0');
      if (port > 65535) {
        port = 65536;
        break;
      }
    }
    parts.port = port;
  } else {
    parts.host = auth;
    parts.port = parts.scheme == u"https" ? 443 : 80;
  }
  if (slash != std::u16string_view::npos) parts.path = url.substr(slash);
  return parts;
}

}  // namespace parlex
