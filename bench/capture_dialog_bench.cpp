// The capture dialog's paints on the Linux capture surface (a 32-bit buffer
// the size of the screen), with CScreenDlg driving the repaints the way the
// window does: invalid areas collected, then for each the background
// (ComposeBackground) and the overlay (the tracker) clipped to it.
//
//   BM_DragStep/<w>/<h>         one step of a tracker drag: a 200 x 200
//                               selection moved by 8 pixels (OnTracking with
//                               its immediate repaint of the old and new area).
//   BM_DragStepLiteral/<w>/<h>  the same step painted the old way: a grey
//                               bitmap of the screen's size made and filled
//                               at every paint, the snapshot put back in the
//                               invalid area, and four strips of grey blended
//                               at opacity 127 over the screen, clipped to the
//                               invalid area as a paint context clips them.
//   BM_InitAndFirstPaint/<w>/<h>  OnInitDialog with a fresh snapshot (the
//                               dimmed copy is made) and the first paint of
//                               the whole window.
#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>
#include <vector>

#include "capture/screen_dlg.h"
#include "capture/screen_fakes.h"

namespace parlex {
namespace {

PixelBuffer Pattern(int w, int h) {
  PixelBuffer b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Set(x, y, static_cast<uint32_t>((x * 7 + y * 13) & 0xFFFFFF));
  return b;
}

// The capture dialog tests' window over memory: it paints as the platforms
// do (invalid areas collected, background and overlay for each at
// UpdateNow); its buttons, editor and drag loop are plain state.
using BenchView = testing::FakeScreenView;

// A dialog with a 200 x 200 selection in the middle of the screen, painted.
struct Scene {
  Scene(int w, int h) : view(w, h) {
    view.Attach(&dlg);
    dlg.OnInitDialog(Pattern(w, h));
    view.Invalidate(nullptr);
    view.UpdateNow();
    const Point a{w / 2 - 100, h / 2 - 100};
    dlg.OnLButtonDown(a);
    dlg.OnMouseMove(Point{a.x + 200, a.y + 200});
    dlg.OnLButtonUp(Point{a.x + 200, a.y + 200});
    view.UpdateNow();
  }
  CScreenDlg dlg{1, 2};
  BenchView view;
};

void BM_DragStep(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const Rect a = scene.dlg.m_rcSelection;
  const Rect b = Offset(a, 8, 0);
  bool flip = false;
  for (auto _ : state) {
    Rect previous = flip ? b : a;
    Rect proposed = flip ? a : b;
    flip = !flip;
    scene.dlg.OnTracking(&proposed, CAxTracker::hitInside, &previous, false, false, 0, 0, nullptr);
    benchmark::ClobberMemory();
  }
}

// Dest channel under a grey source 127 at constant opacity 127.
inline uint32_t Blend(uint32_t src, uint32_t dst) {
  auto ch = [&](int shift) {
    const uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    return ((s * 127 + d * 128) / 255) << shift;
  };
  return 0xFF000000u | ch(16) | ch(8) | ch(0);
}

void BM_DragStepLiteral(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Scene scene(w, h);
  const PixelBuffer& snap = scene.dlg.Snapshot();
  PixelBuffer& surface = scene.view.surface;
  CAxTracker& tracker = scene.dlg.Tracker();
  const Rect a = scene.dlg.m_rcSelection;
  const Rect b = Offset(a, 8, 0);
  bool flip = false;
  for (auto _ : state) {
    // OnTracking as it was: the tracker's old and new area, then a paint.
    Region invalid = *tracker.GetRegion(0x1F);
    const Rect s = flip ? a : b;
    flip = !flip;
    scene.dlg.m_rcSelection = s;
    invalid.Union(Region(Inflated(s, 2, 2)));
    // The paint: a grey bitmap of the screen's size, made afresh.
    std::vector<uint32_t> grey(static_cast<size_t>(w) * h);
    std::fill(grey.begin(), grey.end(), 0xFF7F7F7Fu);
    for (const Rect& r : invalid.Rects()) {
      // The erase step puts the snapshot back.
      for (int y = r.top; y < r.bottom; ++y)
        std::memcpy(surface.Data() + static_cast<size_t>(y) * w + r.left,
                    snap.Data() + static_cast<size_t>(y) * w + r.left,
                    static_cast<size_t>(r.right - r.left) * 4);
      // Four strips blended, clipped to the paint area.
      const Rect strips[4] = {
          {0, 0, s.left, h}, {s.left, 0, s.right, s.top}, {s.right, 0, w, h}, {s.left, s.bottom, s.right, h}};
      for (const Rect& strip : strips) {
        const Rect c = Intersection(strip, r);
        for (int y = c.top; y < c.bottom; ++y) {
          uint32_t* dst = surface.Data() + static_cast<size_t>(y) * w;
          const uint32_t* src = grey.data() + static_cast<size_t>(y) * w;
          for (int x = c.left; x < c.right; ++x) dst[x] = Blend(src[x], dst[x]);
        }
      }
      PixelCanvas canvas(surface, 0xFF);
      canvas.SetClipRect(&r);
      tracker.Draw(canvas);
    }
    benchmark::ClobberMemory();
  }
}

void BM_InitAndFirstPaint(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const PixelBuffer shot = Pattern(w, h);
  BenchView view(w, h);
  for (auto _ : state) {
    state.PauseTiming();
    PixelBuffer grabbed = shot;  // the platform's grab, not timed
    CScreenDlg dlg(1, 2);
    view.Attach(&dlg);
    state.ResumeTiming();
    dlg.OnInitDialog(std::move(grabbed));
    view.Invalidate(nullptr);
    view.UpdateNow();
    benchmark::ClobberMemory();
  }
}

// 7680 x 2160: a desktop of two 3840 x 2160 monitors side by side.
BENCHMARK(BM_DragStep)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Args({7680, 2160})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DragStepLiteral)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Args({7680, 2160})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InitAndFirstPaint)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Args({7680, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace parlex

BENCHMARK_MAIN();
