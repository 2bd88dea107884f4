#include "capture/win32/tracker_resources_win32.h"

#include <array>
#include <memory>
#include <utility>

#include "capture/win32/gdi_canvas.h"
#include "resource.h"

namespace parlex::win32 {
namespace {

std::array<HCURSOR, 6> g_cursors{};

// Owns the hatch bitmap until the process ends.
struct HatchHolder {
  ScopedGdiObject<HBITMAP> bitmap;
  std::shared_ptr<const BrushPattern> pattern;
};

HatchHolder& Hatch() {
  static HatchHolder holder;
  return holder;
}

void BuildHatch() {
  HatchHolder& hatch = Hatch();
  if (hatch.bitmap) return;
  // The same tile the portable tracker paints with, in this system's colours.
  std::shared_ptr<const BrushPattern> pattern = CAxTracker::MakeHatchPattern(TrackerSystemColors());
  ScopedGdiObject<HBITMAP> bitmap(CreatePatternBitmap(*pattern));
  if (!bitmap) return;
  hatch.bitmap = std::move(bitmap);
  hatch.pattern = std::move(pattern);
}

}  // namespace

void EnsureTrackerResources() {
  if (!g_cursors[0]) {
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    for (int i = 0; i < 6; ++i) g_cursors[i] = ::LoadCursorW(module, MAKEINTRESOURCEW(IDC_TRACK_NWSE + i));
  }
  BuildHatch();
}

HCURSOR TrackerCursor(int index) {
  if (index < 0 || index >= 6) return nullptr;
  return g_cursors[static_cast<size_t>(index)];
}

HBITMAP TrackerHatchBitmap() { return Hatch().bitmap.Get(); }

const BrushPattern* TrackerHatchPattern() { return Hatch().pattern.get(); }

CAxTracker::SystemColors TrackerSystemColors() {
  CAxTracker::SystemColors colors;
  colors.activeCaption = FromColorRef(::GetSysColor(COLOR_ACTIVECAPTION));
  colors.window = FromColorRef(::GetSysColor(COLOR_WINDOW));
  return colors;
}

void InitTracker(CAxTracker& tracker) {
  EnsureTrackerResources();
  tracker.colors = TrackerSystemColors();
}

}  // namespace parlex::win32
