// CScreenDlg's editing beyond the shapes: undo and redo of every kind of
// annotation, the mosaic, the pen, copy, the shortcuts, the size note and the
// toolbar on a desktop of several monitors.
#include <gtest/gtest.h>

#include "capture/desktop_layout.h"
#include "capture/dib_image.h"
#include "screen_fakes.h"

namespace parlex::testing {
namespace {

constexpr Color kRed = Rgb(255, 0, 0);
constexpr uint32_t kZ = 'Z', kY = 'Y', kC = 'C', kS = 'S';

// The screen and the dimmed copy show the snapshot as it is now.
void ExpectConsistent(ScreenFixture& f) {
  EXPECT_TRUE(DimmedFollowsSnapshot(f.dlg));
  f.view.UpdateNow();
  EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint()));
}

TEST(ScreenUndo, EachKindComesOffExactlyAndRedoPutsItBack) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {220, 150});
  std::vector<PixelBuffer> states{f.dlg.Snapshot()};
  EXPECT_FALSE(f.view.buttons[kBtnUndo].enabled);  // nothing to undo yet

  f.view.Check(kBtnRectangle);
  f.Drag({30, 30}, {{90, 80}});
  states.push_back(f.dlg.Snapshot());
  f.view.Check(kBtnText);
  f.dlg.OnLButtonDown({100, 40});
  f.view.editorText = u"abc";
  f.dlg.GrowTextEditor();
  f.dlg.OnLButtonDown({150, 120});  // closes and commits
  states.push_back(f.dlg.Snapshot());
  f.view.Check(kBtnMosaic);
  f.Drag({40, 50}, {{120, 110}});
  states.push_back(f.dlg.Snapshot());
  f.view.Check(kBtnPen);
  f.Drag({60, 130}, {{100, 135}, {180, 60}});
  states.push_back(f.dlg.Snapshot());
  for (size_t i = 1; i < states.size(); ++i) ASSERT_NE(states[i], states[i - 1]) << i;
  EXPECT_EQ(f.dlg.History().Steps(), 4u);

  for (size_t i = states.size() - 1; i > 0; --i) {
    EXPECT_TRUE(f.dlg.OnKeyDown(kZ, true, false, false));
    EXPECT_TRUE(SamePixels(f.dlg.Snapshot(), states[i - 1])) << i;
    ExpectConsistent(f);
  }
  f.dlg.OnUndo();  // nothing left: no change
  EXPECT_TRUE(SamePixels(f.dlg.Snapshot(), states[0]));
  EXPECT_FALSE(f.view.buttons[kBtnUndo].enabled);
  // Ctrl+Y and Ctrl+Shift+Z both redo; the undo button does what Ctrl+Z does.
  f.dlg.OnKeyDown(kY, true, false, false);
  EXPECT_TRUE(SamePixels(f.dlg.Snapshot(), states[1]));
  EXPECT_TRUE(f.view.buttons[kBtnUndo].enabled);
  f.dlg.OnKeyDown(kZ, true, true, false);
  EXPECT_TRUE(SamePixels(f.dlg.Snapshot(), states[2]));
  EXPECT_TRUE(f.dlg.m_bAnnotated);
  f.dlg.OnUndo();
  EXPECT_TRUE(SamePixels(f.dlg.Snapshot(), states[1]));
  // A new annotation forgets what was undone.
  f.view.Check(kBtnEllipse);
  f.Drag({150, 100}, {{200, 140}});
  const PixelBuffer withEllipse = f.dlg.Snapshot();
  f.dlg.OnRedo();
  EXPECT_EQ(f.dlg.Snapshot(), withEllipse);
  f.dlg.OnUndo();
  f.dlg.OnUndo();
  EXPECT_TRUE(SamePixels(f.dlg.Snapshot(), states[0]));
  ExpectConsistent(f);

  // All undone: the tool is put down and the selection moves again.
  EXPECT_FALSE(f.dlg.m_bAnnotated);
  EXPECT_FALSE(f.view.buttons[kBtnEllipse].checked);
  f.view.host.cursorPos = {100, 100};
  EXPECT_TRUE(f.dlg.OnSetCursor(1));
  f.view.host.Move(110, 100);
  f.view.host.Add(TrackEvent::Simple(TrackEvent::Kind::kLeftUp));
  f.dlg.OnLButtonDown({100, 100});
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{30, 20, 230, 150}));
}

TEST(ScreenUndo, HistoryStaysWithinFourSelectionsAndKeepsTheNewestSteps) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {120, 120});  // 100 x 100
  f.view.Check(kBtnMosaic);
  for (int i = 0; i < 12; ++i) f.Drag({21 + i % 3, 21}, {{119, 119}});
  EXPECT_LE(f.dlg.History().Bytes(), 4u * 100 * 100 * 4);
  EXPECT_TRUE(f.dlg.History().Trimmed());
  // The oldest mosaics are for good: the selection stays frozen.
  while (f.dlg.History().CanUndo()) f.dlg.OnUndo();
  EXPECT_TRUE(f.dlg.m_bAnnotated);
  EXPECT_NE(f.dlg.Snapshot(), f.original);
  ExpectConsistent(f);
}

TEST(ScreenMosaic, BlocksAreAveragesAndNothingOfTheOriginalStays) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {220, 150});
  f.view.Check(kBtnMosaic);
  // 55 x 47 from (30, 30): the last column and row of blocks are partial and
  // are averaged over their whole 10 x 10 block.
  f.Drag({30, 30}, {{60, 50}, {85, 77}});
  EXPECT_TRUE(f.dlg.m_bAnnotated);
  const Rect area{30, 30, 85, 77};
  const PixelBuffer& snap = f.dlg.Snapshot();
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      if (!PtInRect(area, Point{x, y})) {
        ASSERT_EQ(snap.At(x, y), f.original.At(x, y)) << x << "," << y;
        continue;
      }
      const int bx = 30 + (x - 30) / 10 * 10, by = 30 + (y - 30) / 10 * 10;
      uint32_t sum[3] = {};
      for (int v = by; v < by + 10; ++v)
        for (int u = bx; u < bx + 10; ++u) {
          const Color c = f.original.At(u, v);
          sum[0] += RedOf(c), sum[1] += GreenOf(c), sum[2] += BlueOf(c);
        }
      const Color want =
          Rgb(static_cast<uint8_t>((sum[0] + 50) / 100), static_cast<uint8_t>((sum[1] + 50) / 100),
              static_cast<uint8_t>((sum[2] + 50) / 100));
      ASSERT_EQ(snap.At(x, y), want) << x << "," << y;
      ASSERT_NE(snap.At(x, y), f.original.At(x, y)) << x << "," << y;
    }
  // What the drag showed is what was committed.
  ExpectConsistent(f);
  // The written picture holds the blocks, not the original.
  EXPECT_EQ(f.dlg.SelectionPixels().At(40 - 20, 40 - 20), snap.At(40, 40));
}

TEST(ScreenPen, FreehandRedLineHeldInsideTheSelection) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {220, 150});
  f.view.Check(kBtnPen);
  f.Drag({50, 60}, {{100, 60}, {100, 90}, {400, 90}});
  const PixelBuffer& snap = f.dlg.Snapshot();
  for (int x = 50; x <= 100; ++x) EXPECT_EQ(snap.At(x, 60), kRed) << x;
  for (int y = 60; y <= 90; ++y) EXPECT_EQ(snap.At(100, y), kRed) << y;
  for (int x = 100; x <= 218; ++x) EXPECT_EQ(snap.At(x, 90), kRed) << x;  // to the last pixel inside
  int changed = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      if (snap.At(x, y) != f.original.At(x, y)) {
        ++changed;
        ASSERT_TRUE(PtInRect(Rect{21, 21, 219, 149}, Point{x, y})) << x << "," << y;
      }
  EXPECT_EQ(changed, 51 + 30 + 118);
  ExpectConsistent(f);
}

TEST(ScreenCopy, ShortcutsCopyAndSave) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {120, 100});
  f.view.Check(kBtnRectangle);
  f.Drag({30, 30}, {{80, 70}});
  // A clipboard that refuses keeps the capture open.
  f.view.clipboardWorks = false;
  EXPECT_TRUE(f.dlg.OnKeyDown(kC, true, false, false));
  EXPECT_TRUE(f.view.results.empty());
  // Ctrl+S asks where to save, as the save button does; cancelled, it stays.
  EXPECT_TRUE(f.dlg.OnKeyDown(kS, true, false, false));
  EXPECT_EQ(f.view.saveQuestions, 1);
  EXPECT_FALSE(f.dlg.OnKeyDown(kC, false, false, false));
  EXPECT_FALSE(f.dlg.OnKeyDown(kZ, true, false, true));
  f.view.clipboardWorks = true;
  f.dlg.OnKeyDown(kC, true, false, false);
  ASSERT_TRUE(f.view.clipboard);
  EXPECT_EQ(*f.view.clipboard, f.dlg.SelectionPixels());
  EXPECT_EQ(f.view.clipboard->Width(), 100);
  EXPECT_EQ(f.view.clipboard->At(30 - 20, 50 - 20), kRed);
  EXPECT_EQ(f.view.results, (std::vector<int>{kCaptureDone}));
  EXPECT_FALSE(f.dlg.m_bSent);
  EXPECT_EQ(f.dlg.m_report.outcome, CaptureReport::Outcome::kCopied);
  EXPECT_EQ(ButtonTooltip(kBtnCopy), u"复制 (Ctrl+C)");
}

TEST(ScreenSize, NoteAtTheTopLeftWhileSelectingAndTracking) {
  ScreenFixture f(300, 200);
  f.dlg.OnLButtonDown({40, 50});
  f.dlg.OnMouseMove({240, 180});
  EXPECT_EQ(f.view.sizeLabels.back(), u"200 × 130");
  EXPECT_EQ(f.view.sizeLabelAt, (Rect{40, 32, 40 + 8 + 63, 50}));  // above the corner
  f.dlg.OnMouseMove({240, 180});
  f.dlg.OnLButtonUp({240, 180});
  EXPECT_EQ(f.view.sizeLabels.back(), u"");
  // At the top of the screen it goes inside the corner; moved, it follows.
  f.view.host.Move(100, 60);
  f.view.host.Do([&] {
    EXPECT_EQ(f.view.sizeLabels.back(), u"200 × 130");
    EXPECT_EQ(f.view.sizeLabelAt.top, 10);  // inside, at the corner
  });
  f.view.host.Add(TrackEvent::Simple(TrackEvent::Kind::kLeftUp));
  f.dlg.OnLButtonDown({100, 100});
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{40, 10, 240, 140}));
  EXPECT_EQ(f.view.sizeLabels.back(), u"");
  // The note is on the screen only: the picture is the snapshot.
  EXPECT_EQ(f.dlg.SelectionPixels().At(0, 0), f.original.At(40, 10));
}

TEST(ScreenMonitors, ToolbarStaysInTheWorkAreaOfTheBottomRightMonitor) {
  struct Case {
    Point a, b;
    int32_t x, y;
  } cases[] = {
      {{100, 100}, {700, 540}, 200, 65},    // above: the panel at A's bottom
      {{1000, 100}, {1400, 480}, 900, 65},  // at B's right edge, above
      {{850, 100}, {1100, 300}, 800, 305},  // held right of B's left edge
      {{700, 100}, {900, 590}, 800, 65},    // corner below B: the nearest monitor
      {{100, 300}, {300, 400}, 0, 405},     // on A
  };
  for (const Case& c : cases) {
    CScreenDlg dlg(1, 2);
    FakeScreenView view(1400, 600);
    view.Attach(&dlg);
    dlg.OnInitDialog(NoisyBuffer(1400, 600), {MonitorArea{{0, 0, 800, 600}, {0, 0, 800, 560}},
                                              MonitorArea{{800, 0, 1400, 500}, {800, 0, 1400, 500}}});
    dlg.OnLButtonDown(c.a);
    dlg.OnMouseMove(c.b);
    dlg.OnLButtonUp(c.b);
    EXPECT_EQ(view.buttons[kBtnRectangle].cell, (Rect{c.x, c.y, c.x + 50, c.y + 30})) << c.b.x;
    EXPECT_EQ(view.buttons[kBtnSend].cell.right, c.x + 500);
  }
}

TEST(ScreenMonitors, DesktopOfMonitorsAtNegativeOffsetsBecomesClientPixels) {
  // The primary at (0, 0), a 144-dpi monitor left of it and higher up (its
  // device pixels as a per-monitor aware program sees them), and an empty one.
  const DesktopLayout layout = LayOutDesktop({
      MonitorArea{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}},
      MonitorArea{{-2880, -300, 0, 1320}, {-2880, -300, 0, 1280}},
      MonitorArea{{5000, 0, 5000, 0}, {}},
  });
  EXPECT_EQ(layout.desktop, (Rect{-2880, -300, 1920, 1320}));
  ASSERT_EQ(layout.monitors.size(), 2u);
  EXPECT_EQ(layout.monitors[0].bounds, (Rect{2880, 300, 4800, 1380}));
  EXPECT_EQ(layout.monitors[0].work, (Rect{2880, 300, 4800, 1340}));
  EXPECT_EQ(layout.monitors[1].bounds, (Rect{0, 0, 2880, 1620}));
  // A selection at the left monitor's bottom-right gets its toolbar there,
  // above its task bar, not on the primary.
  CScreenDlg dlg(1, 2);
  FakeScreenView view(4800, 1620);
  view.Attach(&dlg);
  dlg.OnInitDialog(PixelBuffer(4800, 1620), layout.monitors);
  dlg.OnLButtonDown({2000, 1000});
  dlg.OnMouseMove({2879, 1590});
  dlg.OnLButtonUp({2879, 1590});
  EXPECT_EQ(view.buttons[kBtnRectangle].cell, (Rect{2379, 965, 2429, 995}));
  // Off every monitor (above the primary): the nearest one.
  EXPECT_EQ(dlg.MonitorAt({3000, 10}).bounds, layout.monitors[1].bounds);
  EXPECT_EQ(dlg.MonitorAt({3000, 200}).bounds, layout.monitors[0].bounds);
}

TEST(ScreenCopy, PackedDibIsBottomUpBgrWithPaddedRows) {
  PixelBuffer image(3, 2);
  image.Set(0, 0, Rgb(1, 2, 3));
  image.Set(2, 1, Rgb(250, 251, 252));
  const std::string dib = PackedDib(image);
  ASSERT_EQ(dib.size(), 40u + 2 * 12);  // 9 bytes a row, padded to 12
  EXPECT_EQ(dib.substr(0, 16), std::string("\x28\0\0\0\x03\0\0\0\x02\0\0\0\x01\0\x18\0", 16));
  // The first row stored is the bottom one.
  EXPECT_EQ(dib.substr(40 + 6, 3), "\xFC\xFB\xFA");
  EXPECT_EQ(dib.substr(40 + 12, 3), "\x03\x02\x01");
}

}  // namespace
}  // namespace parlex::testing
