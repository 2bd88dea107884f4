// The image encoders of the Linux build: the formats QImageWriter can write,
// one entry per format with its file-name patterns (JPEG first, as
// "*.jpg;*.jpeg"), each encoding into memory with the format's defaults.
#pragma once

#include <QByteArray>

#include <optional>
#include <string>
#include <vector>

#include "capture/pixel_canvas.h"
#include "capture/screen_view.h"

namespace parlex::qt {

class ImageEncodersQt {
 public:
  // The formats installed in this process (built once).
  static const ImageEncodersQt& Installed();

  const std::vector<ImageEncoderInfo>& Infos() const { return infos_; }
  // The image in format `index`; none when the index is unknown or the
  // writer fails.
  std::optional<std::string> Encode(size_t index, const PixelBuffer& image) const;

 private:
  ImageEncodersQt();

  std::vector<ImageEncoderInfo> infos_;
  std::vector<QByteArray> formats_;  // QImageWriter's name, per entry
};

}  // namespace parlex::qt
