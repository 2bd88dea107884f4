// libFuzzer entry: the .ico/.cur reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "common/icon_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto file = parlex::DecodeIconFile({data, size});
  if (file) {
    for (const auto& image : file->images) {
      if (image.pixels.size() != static_cast<size_t>(image.width) * image.height) __builtin_trap();
    }
  }
  return 0;
}
