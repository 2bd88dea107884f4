// MIME types from the system's table (/etc/mime.types): "type ext ext ..."
// per line, '#' comments.
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "http/mime_type.h"
#include "http/posix/socket_transport.h"

namespace parlex {

namespace {

// The Windows registry value this stands for has room for 511 units.
constexpr size_t kMaxTypeUnits = 511;

}  // namespace

std::u16string posix::LookupMimeTypeIn(const std::string& tablePath, std::u16string_view key) {
  if (key.size() < 2 || key[0] != u'.') return {};
  std::string extension = AsciiLower(ToUtf8(key.substr(1)));
  std::ifstream table(tablePath);
  std::string line;
  while (std::getline(table, line)) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string type, word;
    if (!(words >> type)) continue;
    while (words >> word) {
      if (AsciiLower(word) == extension) {
        std::u16string result = FromUtf8(type);
        return result.size() <= kMaxTypeUnits ? result : std::u16string();
      }
    }
  }
  return {};
}

std::u16string posix::LookupSystemMimeType(std::u16string_view key) {
  return posix::LookupMimeTypeIn("/etc/mime.types", key);
}

}  // namespace parlex
