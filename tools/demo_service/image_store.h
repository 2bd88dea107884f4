// The uploaded images, each stored once under a name of its own in the data
// folder. Safe to call from the server's worker threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image_info.h"

namespace parlex::demo {

struct StoredImage {
  uint64_t id;
  std::string name;  // a plain file name in the data folder
};

class ImageStore {
 public:
  explicit ImageStore(std::string dir);

  // Writes the bytes under a new name ("img-<id>-<random>.<ext>"); the file
  // appears under that name only once it is complete. Nothing on failure.
  std::optional<StoredImage> Store(std::string_view bytes, const ImageInfo& info);

 private:
  std::string dir_;
  std::atomic<uint64_t> nextId_{1};
};

}  // namespace parlex::demo
