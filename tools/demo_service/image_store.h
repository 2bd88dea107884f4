// The uploaded images, each stored once under a name of its own in the data
// folder. Safe to call from the server's worker threads at once.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image_info.h"

namespace parlex::demo {

class ImageStore {
 public:
  explicit ImageStore(std::string dir);

  // Writes the bytes under a new name ("img-<random>.<ext>") and answers
  // that name; the file appears under it only once it is complete. Nothing
  // on failure.
  std::optional<std::string> Store(std::string_view bytes, const ImageInfo& info);
  // Takes a stored file back (its record could not be kept).
  void Remove(const std::string& name);

 private:
  std::string dir_;
};

}  // namespace parlex::demo
