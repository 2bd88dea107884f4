#include "capture/desktop_layout.h"

#include <algorithm>

namespace parlex {

DesktopLayout LayOutDesktop(const std::vector<MonitorArea>& screens) {
  DesktopLayout out;
  bool first = true;
  for (const MonitorArea& m : screens) {
    if (IsRectEmpty(m.bounds)) continue;
    if (first) {
      out.desktop = m.bounds;
      first = false;
    } else {
      out.desktop =
          Rect{std::min(out.desktop.left, m.bounds.left), std::min(out.desktop.top, m.bounds.top),
               std::max(out.desktop.right, m.bounds.right), std::max(out.desktop.bottom, m.bounds.bottom)};
    }
  }
  for (const MonitorArea& m : screens) {
    if (IsRectEmpty(m.bounds)) continue;
    out.monitors.push_back(MonitorArea{Offset(m.bounds, -out.desktop.left, -out.desktop.top),
                                       Offset(m.work, -out.desktop.left, -out.desktop.top)});
  }
  return out;
}

}  // namespace parlex
