// The resources every tracker of the process shares on Windows: the six
// tracker cursors (resources 207 to 212 of the executable, loaded once and
// never released, as cursors loaded from resources need not be) and the 4 x 4
// hatch bitmap of the hatched band (built once on a screen DC, deleted at
// process exit by a static owner). Plus the two system colours the tracker
// paints with.
#pragma once

#include <windows.h>

#include <memory>

#include "capture/ax_tracker.h"
#include "capture/canvas.h"

namespace parlex::win32 {

// Loads the cursor table and builds the hatch bitmap, each only if it does
// not exist yet. Every tracker set-up calls it.
void EnsureTrackerResources();

// Cursor `index` (0 to 5; index 0 is resource 207); null for other indexes or
// when the executable lacks the resource.
HCURSOR TrackerCursor(int index);

// The shared hatch bitmap (null before EnsureTrackerResources or if it could
// not be built), and the pattern it holds.
HBITMAP TrackerHatchBitmap();
const BrushPattern* TrackerHatchPattern();

// GetSysColor(COLOR_ACTIVECAPTION) and GetSysColor(COLOR_WINDOW).
CAxTracker::SystemColors TrackerSystemColors();

// What a tracker needs before its first paint on Windows: the shared
// resources and the system colours.
void InitTracker(CAxTracker& tracker);

}  // namespace parlex::win32
