// Reading the screen straight from the X server: the desktop's pixels go
// from the server's replies into the snapshot, a strip of rows at a time,
// with no picture of the whole desktop made on the way (Qt's own grab makes
// several, each tens of megabytes on a large desktop).
#pragma once

#include <QRect>

#include "capture/pixel_canvas.h"

namespace parlex::qt {

// Copies the root window's pixels in `source` (device pixels of the X
// screen) into `into` with their top-left corner at (x, y). False, with
// nothing promised about `into`, when the program does not run on X, the
// server's pixel layout is not 32 bits of 0x??RRGGBB in the machine's byte
// order, or the server refuses: the caller then reads the screen through Qt.
bool GrabRootX11(const QRect& source, PixelBuffer& into, int x, int y);

}  // namespace parlex::qt
