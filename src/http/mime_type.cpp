#include "http/mime_type.h"

namespace parlex {

std::u16string_view MimeExtensionKey(std::u16string_view path) {
  size_t dot = path.rfind(u'.');
  return dot == std::u16string_view::npos ? path : path.substr(dot);
}

std::u16string MimeTypeForFile(std::u16string_view path, const MimeTypeLookup& lookup) {
  std::u16string type = lookup ? lookup(MimeExtensionKey(path)) : std::u16string();
  return type.empty() ? std::u16string(kDefaultMimeType) : type;
}

}  // namespace parlex
