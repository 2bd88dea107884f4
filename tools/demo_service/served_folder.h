// A folder whose regular files are served by plain name: nothing outside it
// is ever reached (no separators, no "..", no symbolic links followed).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace parlex::demo {

class ServedFolder {
 public:
  // An empty dir serves nothing.
  explicit ServedFolder(std::string dir) : dir_(std::move(dir)) {}

  const std::string& Dir() const { return dir_; }
  // The bytes of the regular file `name` directly in the folder, or nothing
  // when the name is not plain, the file is absent, is no regular file (a
  // link, a folder, a device) or is larger than kMaxBytes.
  std::optional<std::string> Read(std::string_view name) const;

  static constexpr size_t kMaxBytes = 512u << 20;

 private:
  std::string dir_;
};

}  // namespace parlex::demo
