// Reading the screen straight from the X server: the desktop's pixels go
// from the server's replies into the snapshot, a strip of rows at a time,
// with no picture of the whole desktop made on the way (Qt's own grab makes
// several, each tens of megabytes on a large desktop). Also where screens and
// the pointer are in device pixels, which Qt rounds to logical ones.
#pragma once

#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QWindow>

#include <optional>

#include "capture/pixel_canvas.h"

namespace parlex::qt {

// Copies the root window's pixels in `source` (device pixels of the X
// screen) into `into` with their top-left corner at (x, y). False, with
// nothing promised about `into`, when the program does not run on X, the
// server's pixel layout is not 32 bits of 0x??RRGGBB in the machine's byte
// order, or the server refuses: the caller then reads the screen through Qt.
bool GrabRootX11(const QRect& source, PixelBuffer& into, int x, int y);

// Where `screen` lies on the X server in device pixels, as RandR has the
// monitor: Qt's logical size of a screen at a fractional scale is rounded
// and does not give the device size back. None off X or without RandR.
std::optional<QRect> ScreenPlaceX11(const QScreen* screen);

// Where the pointer is now relative to `window`'s top-left corner, in device
// pixels, as the X server has it; none off X, or with the pointer on another
// X screen.
std::optional<QPoint> PointerInWindowX11(WId window);

}  // namespace parlex::qt
