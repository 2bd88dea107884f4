// The desktop the capture covers: every monitor, placed as the system places
// them (device pixels; the primary monitor's top-left at (0, 0), the others
// anywhere around it, at negative offsets too). The capture window covers the
// bounding box of all of them, so its client pixels are desktop pixels moved
// by the box's top-left.
#pragma once

#include <vector>

#include "capture/geometry.h"
#include "capture/screen_view.h"

namespace parlex {

struct DesktopLayout {
  Rect desktop{};                     // the bounding box, in desktop pixels
  std::vector<MonitorArea> monitors;  // in client pixels of the capture window
};

// Empty monitors are left out; no monitor gives an empty desktop.
DesktopLayout LayOutDesktop(const std::vector<MonitorArea>& screens);

}  // namespace parlex
