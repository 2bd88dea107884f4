// Tracker paint on the Linux capture surface (a PixelCanvas over a 32-bit
// buffer), at 1920 x 1080 and 3840 x 2160, with the capture dialog's tracker
// (style 0x37FC, handles of 6) around a selection of half the screen's width
// and height, centred.
//
//   BM_TrackerDraw   CAxTracker::Draw alone: line frame and eight handles.
//   BM_FullPaint     a whole-window paint: the frozen snapshot copied onto the
//                    surface (the erase step), then the tracker.
//   BM_DragRepaint   one mouse move of a drag: the tracker's area before and
//                    after a move by (3, 2) united (GetRegion 0x1F and the new
//                    outer rectangle), the snapshot copied back inside it, then
//                    the tracker drawn clipped to the region's bounds.
//   BM_TrackerDrawSolidBand  the default style (solid band, outer dots, handles
//                    outside), for comparison.
// The dimming of the capture dialog is not part of these figures.
#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>
#include <vector>

#include "capture/ax_tracker.h"
#include "capture/pixel_canvas.h"

namespace parlex {
namespace {

struct Owner : IAxTrackerEvents {
  Rect selection;
  void GetRect(Rect* out) override { *out = selection; }
};

struct Scene {
  int width, height;
  PixelBuffer snapshot;
  PixelBuffer surface;
  Owner owner;
  CAxTracker tracker{nullptr, 6, 300, 'Q', 'W', 'E'};

  Scene(int w, int h, uint16_t style) : width(w), height(h), snapshot(w, h), surface(w, h) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) snapshot.Set(x, y, static_cast<uint32_t>((x * 7 + y * 13) & 0xFFFFFF));
    owner.selection = Rect{w / 4, h / 4, w * 3 / 4, h * 3 / 4};
    tracker.SetEvents(&owner);
    tracker.style = style;
  }

  void CopySnapshot(const Rect& r) {
    for (int y = r.top; y < r.bottom; ++y)
      std::memcpy(surface.Data() + static_cast<size_t>(y) * width + r.left,
                  snapshot.Data() + static_cast<size_t>(y) * width + r.left,
                  static_cast<size_t>(r.right - r.left) * sizeof(uint32_t));
  }
};

void BM_TrackerDraw(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 0x37FC);
  PixelCanvas canvas(scene.surface);
  for (auto _ : state) {
    scene.tracker.Draw(canvas);
    benchmark::DoNotOptimize(scene.surface.Data());
  }
}

void BM_TrackerDrawSolidBand(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), CAxTracker::kDefaultStyle);
  PixelCanvas canvas(scene.surface);
  for (auto _ : state) {
    scene.tracker.Draw(canvas);
    benchmark::DoNotOptimize(scene.surface.Data());
  }
}

void BM_FullPaint(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 0x37FC);
  for (auto _ : state) {
    scene.CopySnapshot(Rect{0, 0, scene.width, scene.height});
    PixelCanvas canvas(scene.surface);
    scene.tracker.Draw(canvas);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * scene.width * scene.height * 4);
}

void BM_DragRepaint(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 0x37FC);
  PixelCanvas first(scene.surface);
  scene.tracker.Draw(first);
  const Rect a = scene.owner.selection;
  const Rect b = Offset(a, 3, 2);
  bool flip = false;
  for (auto _ : state) {
    // The tracker's area as the last paint left it, united with the area the
    // moved selection's tracker will cover (selection grown by 2 for h = 6).
    std::optional<Region> invalid = scene.tracker.GetRegion(0x1F);
    scene.owner.selection = flip ? a : b;
    flip = !flip;
    invalid->Union(Region(Inflated(scene.owner.selection, 2, 2)));
    for (const Rect& r : invalid->Rects()) scene.CopySnapshot(r);
    PixelCanvas canvas(scene.surface);
    const Rect clip = invalid->Bounds();
    canvas.SetClipRect(&clip);
    scene.tracker.Draw(canvas);
    benchmark::ClobberMemory();
  }
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_TrackerDraw)->Apply(Sizes);
BENCHMARK(BM_TrackerDrawSolidBand)->Apply(Sizes);
BENCHMARK(BM_FullPaint)->Apply(Sizes);
BENCHMARK(BM_DragRepaint)->Apply(Sizes);

}  // namespace
}  // namespace parlex

BENCHMARK_MAIN();
