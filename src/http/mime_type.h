// The MIME type sent with a file part of a multipart body.
#pragma once

#include <string>
#include <string_view>

namespace parlex {

inline constexpr std::u16string_view kDefaultMimeType = u"application/octet-stream";

// The key a file is looked up under: the text from the path's last '.' to its
// end, the '.' included. A path without '.' is its own key, which matches no
// registration; so does a key whose '.' belongs to a directory name.
std::u16string_view MimeExtensionKey(std::u16string_view path);

// The type the system registers for a key such as u".jpg", or an empty text
// when it has none. Platform half: the registry's "Content Type" under
// HKEY_CLASSES_ROOT on Windows, /etc/mime.types elsewhere.
std::u16string LookupMimeType(std::u16string_view key);

// LookupMimeType(MimeExtensionKey(path)), or kDefaultMimeType. Each call
// answers its own text.
std::u16string MimeTypeForFile(std::u16string_view path);

}  // namespace parlex
