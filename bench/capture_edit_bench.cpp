// The capture's editing on a desktop of two 3840 x 2160 monitors side by
// side (7680 x 2160), with CScreenDlg painting through the capture window
// over memory the dialog's tests use.
//
//   BM_UndoFiftieth          undo of the 50th of 50 annotations (rectangles,
//                            ellipses, arrows, pen lines and 400 x 300
//                            mosaics in a 3000 x 1800 selection), with its
//                            repaint; redone untimed between runs. Counters:
//                            what the capture holds (snapshot, dimmed copy,
//                            undo history) in MiB, and the history's bound.
//   BM_Mosaic1000            a 1000 x 1000 mosaic drag released: the blocks
//                            averaged and written into the snapshot, recorded
//                            for undo, the dimmed copy brought up to date;
//                            undone untimed between runs.
//   BM_MosaicDragStep1000    one move of that drag at its full size: the
//                            preview repainted (background and blocks).
#include <benchmark/benchmark.h>

#include "capture/screen_dlg.h"
#include "capture/screen_fakes.h"

namespace parlex {
namespace {

constexpr int kW = 7680, kH = 2160;
constexpr double kMiB = 1024.0 * 1024.0;

PixelBuffer Pattern(int w, int h) {
  PixelBuffer b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Set(x, y, static_cast<uint32_t>((x * 7 + y * 13) & 0xFFFFFF));
  return b;
}

struct Desktop {
  Desktop() : view(kW, kH) {
    view.Attach(&dlg);
    dlg.OnInitDialog(Pattern(kW, kH), {MonitorArea{{0, 0, 3840, 2160}, {0, 0, 3840, 2120}},
                                       MonitorArea{{3840, 0, 7680, 2160}, {3840, 0, 7680, 2160}}});
    view.Invalidate(nullptr);
    view.UpdateNow();
    // Across both monitors.
    dlg.OnLButtonDown({2300, 200});
    dlg.OnMouseMove({5300, 2000});
    dlg.OnLButtonUp({5300, 2000});
    view.UpdateNow();
  }
  void Drag(int tool, Point from, Point to) {
    view.Check(tool);
    dlg.OnLButtonDown(from);
    dlg.OnMouseMove(Point{(from.x + to.x) / 2, (from.y + to.y) / 3 * 2});
    dlg.OnMouseMove(to);
    view.UpdateNow();
    dlg.OnLButtonUp(to);
    view.UpdateNow();
  }
  CScreenDlg dlg{1, 2};
  testing::FakeScreenView view;
};

void Counters(benchmark::State& state, const CScreenDlg& dlg) {
  const Rect s = dlg.m_rcSelection;
  const double selection = static_cast<double>(s.right - s.left) * (s.bottom - s.top) * 4;
  state.counters["snapshot_MiB"] =
      static_cast<double>(dlg.Snapshot().Width()) * dlg.Snapshot().Height() * 4 / kMiB;
  state.counters["dimmed_MiB"] = static_cast<double>(dlg.Dimmed().Width()) * dlg.Dimmed().Height() * 4 / kMiB;
  state.counters["history_MiB"] = static_cast<double>(dlg.History().Bytes()) / kMiB;
  state.counters["history_bound_MiB"] = 4 * selection / kMiB;
}

void BM_UndoFiftieth(benchmark::State& state) {
  Desktop d;
  const int tools[] = {kBtnRectangle, kBtnEllipse, kBtnArrow, kBtnPen, kBtnMosaic};
  for (int i = 0; i < 50; ++i) {
    const Point from{2400 + (i % 10) * 260, 300 + (i / 10) * 330};
    d.Drag(tools[i % 5], from, Point{from.x + 400, from.y + 300});
  }
  for (auto _ : state) {
    d.dlg.OnUndo();
    benchmark::ClobberMemory();
    state.PauseTiming();
    d.dlg.OnRedo();
    state.ResumeTiming();
  }
  Counters(state, d.dlg);
  state.counters["steps"] = static_cast<double>(d.dlg.History().Steps());
}

void BM_Mosaic1000(benchmark::State& state) {
  Desktop d;
  d.view.Check(kBtnMosaic);
  for (auto _ : state) {
    state.PauseTiming();
    d.view.Check(kBtnMosaic);  // the last undo put the tool down
    d.dlg.OnLButtonDown({3000, 500});
    d.dlg.OnMouseMove({4000, 1500});
    d.view.UpdateNow();
    state.ResumeTiming();
    d.dlg.OnLButtonUp({4000, 1500});
    d.view.UpdateNow();
    benchmark::ClobberMemory();
    state.PauseTiming();
    d.dlg.OnUndo();
    state.ResumeTiming();
  }
  if (d.dlg.History().Steps() != 1) state.SkipWithError("the mosaic was not committed");
  Counters(state, d.dlg);
}

void BM_MosaicDragStep1000(benchmark::State& state) {
  Desktop d;
  d.view.Check(kBtnMosaic);
  d.dlg.OnLButtonDown({3000, 500});
  d.dlg.OnMouseMove({4000, 1500});
  d.view.UpdateNow();
  bool flip = false;
  for (auto _ : state) {
    d.dlg.OnMouseMove(flip ? Point{4000, 1500} : Point{4001, 1501});
    flip = !flip;
    d.view.UpdateNow();
    benchmark::ClobberMemory();
  }
  d.dlg.OnLButtonUp({4000, 1500});
}

BENCHMARK(BM_UndoFiftieth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mosaic1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MosaicDragStep1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace parlex

BENCHMARK_MAIN();
