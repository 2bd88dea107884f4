// Files the HTTP tests upload: a real (1x1 grey) JPEG, and files written to
// a private temporary folder and removed again.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/text.h"
#include "support/temp_dir.h"

namespace parlex::test {

inline const std::string& TinyJpeg() {
  static const std::string bytes(
      "\xFF\xD8\xFF\xE0\x00\x10\x4A\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF\xDB\x00\x43"
      "\x00\x10\x0B\x0C\x0E\x0C\x0A\x10\x0E\x0D\x0E\x12\x11\x10\x13\x18\x28\x1A\x18\x16\x16\x18\x31\x23"
      "\x25\x1D\x28\x3A\x33\x3D\x3C\x39\x33\x38\x37\x40\x48\x5C\x4E\x40\x44\x57\x45\x37\x38\x50\x6D\x51"
      "\x57\x5F\x62\x67\x68\x67\x3E\x4D\x71\x79\x70\x64\x78\x5C\x65\x67\x63\xFF\xC0\x00\x0B\x08\x00\x01"
      "\x00\x01\x01\x01\x11\x00\xFF\xC4\x00\x14\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x01\xFF\xC4\x00\x14\x10\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00\x1F\xFF\xD9",
      159);
  return bytes;
}

// A file of the given name holding the given bytes, in a private folder of
// its own (never a fixed name in the shared temporary folder, where tests
// running side by side would meet); removed with its folder when the object
// ends.
class TempFile {
 public:
  TempFile(std::u16string_view name, std::string_view bytes)
      : path_(dir_.Ok() ? dir_.Write(ToUtf8(name), bytes) : std::filesystem::path()) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // The path as the program's text.
  std::u16string Path() const {
    std::u8string u8 = path_.u8string();
    return FromUtf8(std::string(u8.begin(), u8.end()));
  }

 private:
  TempDir dir_{"file"};
  std::filesystem::path path_;
};

}  // namespace parlex::test
