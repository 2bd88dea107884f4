// What the image endpoint accepts: a JPEG or PNG file whose pixel size can be
// read from its header (a JPEG's frame header, a PNG's IHDR chunk).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace parlex::demo {

struct ImageInfo {
  enum class Kind { kJpeg, kPng };
  Kind kind;
  uint32_t width;
  uint32_t height;

  const char* Extension() const { return kind == Kind::kJpeg ? "jpg" : "png"; }
  const char* MimeType() const { return kind == Kind::kJpeg ? "image/jpeg" : "image/png"; }
};

// The kind and size of the image in bytes, or nothing when it is neither a
// JPEG nor a PNG, its header is cut short, or a side is 0.
std::optional<ImageInfo> ReadImageInfo(std::string_view bytes);

}  // namespace parlex::demo
