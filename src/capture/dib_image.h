// A picture as a packed device-independent bitmap: a BITMAPINFOHEADER of 40
// bytes, then the rows bottom-up, 24 bits a pixel (B, G, R), each row padded
// to 4 bytes. It is what the Windows clipboard holds as CF_DIB (the system
// offers it as CF_DIBV5 and CF_BITMAP too), and 24 bits leave no alpha byte
// for a reader to take as transparency.
#pragma once

#include <string>

#include "capture/pixel_canvas.h"

namespace parlex {

std::string PackedDib(const PixelBuffer& image);

}  // namespace parlex
