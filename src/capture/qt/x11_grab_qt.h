// Reading the screen straight from the X server: the desktop's pixels go
// from the server's replies into the snapshot, a strip of rows at a time,
// with no picture of the whole desktop made on the way (Qt's own grab makes
// several, each tens of megabytes on a large desktop). Also where screens and
// the pointer are in device pixels, which Qt rounds to logical ones.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWindow>

#include <optional>
#include <vector>

#include "capture/pixel_canvas.h"

namespace parlex::qt {

// Copies the root window's pixels in `source` (device pixels of the X
// screen) into `into` with their top-left corner at (x, y). False, with
// nothing promised about `into`, when the program does not run on X, the
// server's pixel layout is not 32 bits of 0x??RRGGBB in the machine's byte
// order, or the server refuses: the caller then reads the screen through Qt.
bool GrabRootX11(const QRect& source, PixelBuffer& into, int x, int y);

// A monitor as RandR has it, in device pixels: Qt's logical size of a screen
// at a fractional scale is rounded and does not give the device size back.
struct MonitorX11 {
  QString name;  // Qt names its screen after it
  QRect place;
};

// The active monitors; none off X or without RandR.
std::vector<MonitorX11> MonitorsX11();

// Where the pointer is now relative to `window`'s top-left corner, in device
// pixels, as the X server has it; none off X, or with the pointer on another
// X screen.
std::optional<QPoint> PointerInWindowX11(WId window);

}  // namespace parlex::qt
