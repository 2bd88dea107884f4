// The MIME type sent with a file part of a multipart body.
#pragma once

#include <string>
#include <string_view>

#include "http/http_seams.h"

namespace parlex {

inline constexpr std::u16string_view kDefaultMimeType = u"application/octet-stream";

// The key a file is looked up under: the text from the path's last '.' to its
// end, the '.' included. A path without '.' is its own key, which matches no
// registration; so does a key whose '.' belongs to a directory name.
std::u16string_view MimeExtensionKey(std::u16string_view path);

// lookup(MimeExtensionKey(path)), or kDefaultMimeType when the table has
// nothing for it (or there is no table). lookup is the platform's table: the
// registry's "Content Type" under HKEY_CLASSES_ROOT on Windows,
// /etc/mime.types elsewhere (see http_seams.h).
std::u16string MimeTypeForFile(std::u16string_view path, const MimeTypeLookup& lookup);

}  // namespace parlex
