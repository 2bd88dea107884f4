// The installed GDI+ image encoders, through GDI+'s flat API. GDI+ is started
// once, on first use, and stays up for the life of the process (encoding runs
// on the UI thread only).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "capture/pixel_canvas.h"
#include "capture/screen_view.h"

namespace parlex::win32 {

// The encoders in GDI+'s order, each with its file-name patterns
// ("*.JPG;*.JPEG;*.JPE;*.JFIF"); empty when GDI+ is not available.
std::vector<ImageEncoderInfo> ListImageEncoders();

// The image encoded by encoder `index` of ListImageEncoders() with its
// default settings; none when it fails.
std::optional<std::string> EncodeWithEncoder(size_t index, const PixelBuffer& image);

}  // namespace parlex::win32
