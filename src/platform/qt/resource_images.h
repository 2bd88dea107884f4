// The program's icon and the tracker's cursors for the Qt build: the same
// pictures the Windows build loads from its resources (icon 128, cursors
// 207 to 212), decoded from the same files.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QImage>

#include "common/icon_file.h"

namespace parlex::qt {

// Icon 128 with its five sizes (256, 48, 32, 24, 16); a null icon only if
// the embedded file could not be read. Needs the application object.
QIcon AppIcon();

// Cursor 207 to 212 (the tracker's cursor table, in resource ids): its
// 32 x 32 image with that image's hotspot. The arrow cursor for other ids.
QCursor TrackerCursor(int resourceId);

// One decoded image as a QImage (ARGB32, straight alpha).
QImage ToQImage(const IconImage& image);

}  // namespace parlex::qt
