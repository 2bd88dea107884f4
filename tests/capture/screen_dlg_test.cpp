// CScreenDlg through a capture window over memory: what the screen shows,
// what lands in the snapshot, where the toolbar goes and how the selection
// follows the tracker.
#include <gtest/gtest.h>

#include <memory>

#include "screen_fakes.h"

namespace parlex::testing {
namespace {

constexpr Color kRed = Rgb(255, 0, 0);

// The arrow as the reference draws it from explicit points: the head
// triangle, then the shaft from `from` to base.
PixelBuffer ReferenceArrow(Point from, Point tip, Point p1, Point p2, Point base) {
  PixelBuffer b(300, 300, 0xFFFFFF);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.SelectBrush(Brush::Solid(kRed));
  const Point tri[3] = {tip, p1, p2};
  c.MoveTo(from);
  c.Polygon(tri, 3);
  c.LineTo(base);
  return b;
}

PixelBuffer DrawnArrow(Point from, Point tip) {
  PixelBuffer b(300, 300, 0xFFFFFF);
  PixelCanvas c(b);
  c.SelectPen(Pen{PenStyle::kSolid, kRed});
  c.SelectBrush(Brush::Solid(kRed));
  c.MoveTo(from);
  CScreenDlg::DrawArrow(c, tip, ArrowHead{});
  return b;
}

TEST(ScreenArrow, HeadAndShaftOnFloatArithmetic) {
  EXPECT_EQ(DrawnArrow({100, 100}, {200, 100}),
            ReferenceArrow({100, 100}, {200, 100}, {188, 104}, {188, 96}, {188, 100}));
  EXPECT_EQ(DrawnArrow({100, 100}, {160, 180}),
            ReferenceArrow({100, 100}, {160, 180}, {148, 172}, {155, 167}, {152, 170}));
  // A different head would show: one pixel off in any point changes the picture.
  EXPECT_NE(DrawnArrow({100, 100}, {160, 180}),
            ReferenceArrow({100, 100}, {160, 180}, {148, 173}, {155, 167}, {152, 170}));
  // Zero length: the head of a 5-pixel line with no direction collapses onto the tip.
  EXPECT_EQ(DrawnArrow({50, 50}, {50, 50}), ReferenceArrow({50, 50}, {50, 50}, {50, 50}, {50, 50}, {50, 50}));
  // Short lines get the head of a 5-pixel line: a 3-pixel arrow has its base
  // 7.02 pixels behind the tip, and its head reaches behind its start.
  EXPECT_EQ(DrawnArrow({100, 100}, {103, 100}),
            ReferenceArrow({100, 100}, {103, 100}, {95, 102}, {95, 97}, {95, 100}));
}

// Every pixel outside the selection's interior is what it was.
void ExpectOnlyInterior(const PixelBuffer& now, const PixelBuffer& before, const Rect& sel) {
  int changed = 0;
  for (int y = 0; y < now.Height(); ++y)
    for (int x = 0; x < now.Width(); ++x) {
      if (now.At(x, y) == before.At(x, y)) continue;
      ++changed;
      ASSERT_TRUE(PtInRect(Inflated(sel, -1, -1), Point{x, y})) << x << "," << y;
      ASSERT_EQ(now.At(x, y), kRed);
    }
  EXPECT_GT(changed, 0);
}

TEST(ScreenShapes, HeldInsideTheSelectionAndDrawnIntoTheSnapshot) {
  const Rect sel{40, 30, 140, 110};
  for (int tool : {kBtnRectangle, kBtnEllipse, kBtnArrow}) {
    SCOPED_TRACE(tool);
    ScreenFixture f(200, 150);
    f.Select({40, 30}, {140, 110});
    ASSERT_EQ(f.dlg.m_rcSelection, sel);
    f.view.Check(tool);
    // Far out past the bottom-right, then past the top-left: the end point
    // is held one pixel inside, the drawing clipped to the interior.
    f.Drag({40, 30}, {{190, 140}, {-20, -20}, {400, 400}});
    EXPECT_EQ(f.dlg.m_ptEnd, (Point{139, 109}));
    EXPECT_TRUE(f.dlg.m_bAnnotated);
    EXPECT_EQ(f.view.captures, 0);
    ExpectOnlyInterior(f.dlg.Snapshot(), f.original, sel);
    EXPECT_TRUE(DimmedFollowsSnapshot(f.dlg));
    // The screen showed the last preview; it is now the snapshot itself.
    EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint()));
    if (tool == kBtnRectangle) {
      EXPECT_EQ(f.dlg.Snapshot().At(138, 60), kRed);  // right side at end.x - 1
      EXPECT_EQ(f.dlg.Snapshot().At(41, 60), f.original.At(41, 60));
    }
  }
}

TEST(ScreenShapes, PressAndReleaseWithoutMoveLeavesTheSelectionFree) {
  ScreenFixture f(200, 150);
  f.Select({40, 30}, {140, 110});
  f.view.Check(kBtnArrow);
  f.Drag({80, 70}, {});
  EXPECT_FALSE(f.dlg.m_bAnnotated);
  // A press outside the selection with a tool does nothing.
  f.dlg.OnLButtonDown({10, 10});
  EXPECT_FALSE(f.dlg.m_bDrawing);
  EXPECT_EQ(f.view.captures, 0);
}

TEST(ScreenToolbar, BelowAboveInsideAndClamped) {
  struct Case {
    Point a, b;
    int32_t x, y;
  } cases[] = {
      {{100, 100}, {700, 300}, 200, 305},  // below
      {{100, 100}, {700, 565}, 200, 570},  // bottom + 35 == height: still below
      {{100, 400}, {700, 580}, 200, 365},  // above
      {{100, 35}, {700, 590}, 200, 555},   // top - 35 == 0: inside
      {{10, 10}, {200, 100}, 0, 105},      // x clamped to 0
      {{300, 200}, {300, 200}, 0, 205},    // a click: empty selection, toolbar anyway
  };
  for (const Case& c : cases) {
    ScreenFixture f(1000, 600);
    f.Select(c.a, c.b);
    ASSERT_TRUE(f.dlg.m_bPlaced);
    int32_t x = c.x;
    for (int id : {kBtnRectangle, kBtnEllipse, kBtnArrow, kBtnPen, kBtnMosaic, kBtnText, kBtnUndo, kBtnCopy,
                   kBtnSave, kBtnSend}) {
      EXPECT_TRUE(f.view.buttons[id].shown);
      EXPECT_EQ(f.view.buttons[id].cell, (Rect{x, c.y, x + 50, c.y + 30})) << id;
      x += 50;
    }
  }
}

TEST(ScreenTracking, CorrectionKeepsThePreviousSize) {
  ScreenFixture f(400, 300);
  Rect proposed{-5, 10, 200, 200};
  const Rect previous{10, 10, 200, 200};
  f.dlg.OnTracking(&proposed, CAxTracker::hitLeft, &previous, true, false, 0, 0, nullptr);
  EXPECT_EQ(proposed, (Rect{0, 10, 190, 200}));
  EXPECT_EQ(f.dlg.m_rcSelection, proposed);
  proposed = Rect{250, 150, 450, 340};
  f.dlg.OnTracking(&proposed, CAxTracker::hitInside, &previous, false, false, 0, 0, nullptr);
  EXPECT_EQ(proposed, (Rect{210, 110, 400, 300}));
  // A handle dragged across the opposite edge: the drag keeps its crossed
  // edges, the selection is in order.
  proposed = Rect{250, 10, 200, 200};
  f.dlg.OnTracking(&proposed, CAxTracker::hitLeft, &previous, false, false, 0, 0, nullptr);
  EXPECT_EQ(proposed, (Rect{250, 10, 200, 200}));
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{200, 10, 250, 200}));
}

TEST(ScreenTracking, DragStepsRepaintOnlyTheirAreaAndShowTheNewPlace) {
  ScreenFixture f(400, 300);
  f.Select({10, 10}, {200, 200});
  EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint()));
  // The left handle (outer rectangle (8, 8, 202, 202)) dragged off the screen.
  f.view.host.weHoldCapture = false;
  f.view.host.Move(-5, 105);
  f.view.host.Do([&] { EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint())); });
  f.view.host.Move(50, 105);
  f.view.host.Add(TrackEvent::Simple(TrackEvent::Kind::kLeftUp));
  f.dlg.OnLButtonDown({10, 105});
  EXPECT_FALSE(f.view.host.ranOut);
  // The clamp kept the width and moved the right edge; the second step was
  // a plain resize from there.
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{50, 10, 190, 200}));
  f.view.UpdateNow();
  EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint()));
  // Hidden for the drag in the order rectangle ... send, shown again after it.
  EXPECT_EQ(std::vector<int>(f.view.shown.begin() + 10, f.view.shown.begin() + 20),
            (std::vector<int>{-1006, -1005, -1004, -1008, -1009, -1007, -1010, -1011, -1012, -1013}));
  EXPECT_TRUE(f.view.buttons[kBtnSend].shown);
  EXPECT_EQ(f.view.buttons[kBtnSend].cell, (Rect{450, 205, 500, 235}));

  // A move by 8 pixels repaints the tracker's old and new area (outer
  // rectangles (48, 8, 192, 202) and (56, 8, 200, 202)) less the interior
  // both show undimmed ((62, 14, 186, 196)).
  f.view.painted = 0;
  f.view.host.Move(108, 100);
  f.view.host.Add(TrackEvent::Simple(TrackEvent::Kind::kLeftUp));
  f.dlg.OnLButtonDown({100, 100});
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{58, 10, 198, 200}));
  EXPECT_EQ(f.view.painted, 152 * 194 - 124 * 182);
  f.view.UpdateNow();
  EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint()));

  // A press beside the selection neither drags nor hides the toolbar.
  const size_t calls = f.view.shown.size();
  f.dlg.OnLButtonDown({300, 20});
  EXPECT_EQ(f.view.shown.size(), calls);
  // A drag whose capture is taken away keeps the new place and shows the
  // toolbar again beside it.
  f.view.host.Move(110, 100);
  f.view.host.Add(TrackEvent::Simple(TrackEvent::Kind::kCaptureLost));
  f.dlg.OnLButtonDown({100, 100});
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{68, 10, 208, 200}));
  EXPECT_TRUE(f.view.buttons[kBtnRectangle].shown);
  EXPECT_EQ(f.view.buttons[kBtnRectangle].cell, (Rect{0, 205, 50, 235}));
}

TEST(ScreenTracking, FrozenAfterTheFirstAnnotation) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {220, 150});
  f.view.host.cursorPos = {100, 100};
  EXPECT_TRUE(f.dlg.OnSetCursor(1));
  EXPECT_EQ(f.view.host.cursors.back(), 4);
  f.view.Check(kBtnRectangle);
  f.Drag({50, 50}, {{90, 90}});
  f.view.Check(0);
  const size_t cursors = f.view.host.cursors.size();
  const size_t shownCalls = f.view.shown.size();
  EXPECT_FALSE(f.dlg.OnSetCursor(1));
  f.dlg.OnLButtonDown({100, 100});
  EXPECT_EQ(std::count(f.view.host.log.begin(), f.view.host.log.end(), "IsCaptureHeld"), 0);  // no drag
  EXPECT_EQ(f.view.host.cursors.size(), cursors);
  EXPECT_EQ(f.view.shown.size(), shownCalls);
  EXPECT_EQ(f.dlg.m_rcSelection, (Rect{20, 20, 220, 150}));
}

TEST(ScreenText, EditorOpensGrowsWithinTheSelectionAndCommitsWhiteAsTransparent) {
  ScreenFixture f(300, 200);
  f.Select({20, 20}, {220, 150});
  f.view.Check(kBtnText);
  // Near the right edge the first width is what is left of the selection.
  f.dlg.OnLButtonDown({210, 30});
  EXPECT_EQ(*f.view.editor, (Rect{210, 30, 220, 46}));
  f.view.FocusWindow();  // committed empty: nothing drawn
  EXPECT_FALSE(f.dlg.m_bAnnotated);
  EXPECT_FALSE(f.view.editor);
  f.dlg.OnLButtonDown({60, 40});  // closes: the flag was still set
  EXPECT_FALSE(f.dlg.m_bTextOpen);
  EXPECT_FALSE(f.view.buttons[kBtnText].checked);

  f.view.Check(kBtnText);
  f.dlg.OnLButtonDown({60, 40});
  EXPECT_EQ(*f.view.editor, (Rect{60, 40, 74, 56}));
  EXPECT_TRUE(f.view.editorFocused);
  f.dlg.OnLButtonDown({5, 5});  // outside the selection: the editor stays open
  EXPECT_TRUE(f.view.editor);
  f.view.editorText = u"ab\n\nabcdef\r";
  f.dlg.GrowTextEditor();
  // Widest piece "abcdef\r" (7 units) + 2 average widths; three lines of 16.
  EXPECT_EQ(*f.view.editor, (Rect{60, 40, 60 + 49 + 14, 88}));
  EXPECT_EQ(f.view.measured, (std::vector<std::u16string>{u"ab", u"abcdef\r"}));
  f.view.editorText = u"a";
  f.dlg.GrowTextEditor();  // never narrows nor shortens
  EXPECT_EQ(*f.view.editor, (Rect{60, 40, 123, 88}));
  f.view.editorText = std::u16string(40, u'x');
  f.view.extraWrappedLines = 20;
  f.dlg.GrowTextEditor();  // held one pixel inside the selection
  EXPECT_EQ(*f.view.editor, (Rect{60, 40, 219, 149}));

  f.view.editorText = u"12";
  f.dlg.OnLButtonDown({100, 120});  // the close click commits through the focus change
  EXPECT_FALSE(f.view.editor);
  EXPECT_TRUE(f.dlg.m_bAnnotated);
  const PixelBuffer& snap = f.dlg.Snapshot();
  EXPECT_EQ(snap.At(61, 43), kRed);                   // glyph pixel
  EXPECT_EQ(snap.At(60, 43), f.original.At(60, 43));  // white: transparent
  EXPECT_EQ(snap.At(60, 50), Rgb(254, 255, 255));     // near white is ink
  EXPECT_EQ(snap.At(75, 43), f.original.At(75, 43));  // beyond the text
  EXPECT_TRUE(DimmedFollowsSnapshot(f.dlg));
  EXPECT_TRUE(SamePixels(f.view.surface, f.view.FullPaint()));
}

int Blend(int d) { return (127 * 127 + d * (255 - 127)) / 255; }

TEST(ScreenEnd, EndingWithTheButtonDownGivesTheDragBackBeforeTheViewGoes) {
  // Esc (or the window closed, or the program leaving) while the button is
  // still held, in the selecting phase and in a shape drag; the view is then
  // destroyed before the dialog, as the capture calls destroy them.
  for (const bool shape : {false, true}) {
    SCOPED_TRACE(shape ? "shape drag" : "selecting");
    auto view = std::make_unique<FakeScreenView>(200, 150);
    auto dlg = std::make_unique<CScreenDlg>(1, 2);
    view->Attach(dlg.get());
    dlg->OnInitDialog(NoisyBuffer(200, 150));
    if (shape) {
      dlg->OnLButtonDown({20, 20});
      dlg->OnMouseMove({120, 100});
      dlg->OnLButtonUp({120, 100});
      view->Check(kBtnEllipse);
    }
    dlg->OnLButtonDown({40, 30});
    dlg->OnMouseMove({90, 80});
    ASSERT_EQ(view->captures, 1);
    ASSERT_TRUE(view->dragCanvas.has_value());
    dlg->OnCancel();
    EXPECT_EQ(view->results, (std::vector<int>{kCaptureCancelled}));
    EXPECT_EQ(view->captures, 0);
    EXPECT_FALSE(view->dragCanvas.has_value());
    EXPECT_FALSE(dlg->m_bSelecting);
    EXPECT_FALSE(dlg->m_bDrawing);
    // The release that follows finds the dialog ended: nothing is drawn.
    const PixelBuffer before = dlg->Snapshot();
    dlg->OnLButtonUp({90, 80});
    EXPECT_EQ(dlg->Snapshot(), before);
    EXPECT_EQ(view->captures, 0);
    view->dlg = nullptr;
    view.reset();
    dlg.reset();  // reaches nothing of the view
  }
}

TEST(ScreenBackground, DimmedCopyIsTheBlendForEveryChannelValue) {
  PixelBuffer shot(256, 3);
  for (int d = 0; d < 256; ++d) {
    shot.Set(d, 0, Rgb(static_cast<uint8_t>(d), 0, 0));
    shot.Set(d, 1, Rgb(0, static_cast<uint8_t>(d), 0));
    shot.Set(d, 2, Rgb(0, 0, static_cast<uint8_t>(d)));
  }
  CScreenDlg dlg(1, 2);
  dlg.OnInitDialog(shot);
  EXPECT_EQ(dlg.m_tracker.style, 0x37FC);
  PixelBuffer shown(256, 3);
  dlg.ComposeBackground(Rect{0, 0, 256, 3}, shown.Data(), 256);
  for (int d = 0; d < 256; ++d) {
    const int b = Blend(d), z = Blend(0);
    EXPECT_EQ(shown.At(d, 0), Rgb(b, z, z)) << d;
    EXPECT_EQ(shown.At(d, 1), Rgb(z, b, z)) << d;
    EXPECT_EQ(shown.At(d, 2), Rgb(z, z, b)) << d;
  }
  EXPECT_EQ(shown.Data()[0] >> 24, 0xFFu);
}

// The four strips of grey 127 blended at opacity 127 over the snapshot, as
// the window once painted them; a strip with crossed edges blends nothing.
PixelBuffer FourStrips(const PixelBuffer& snap, const Rect& s) {
  PixelBuffer out = snap;
  const int w = snap.Width(), h = snap.Height();
  const Rect strips[4] = {
      {0, 0, s.left, h}, {s.left, 0, s.right, s.top}, {s.right, 0, w, h}, {s.left, s.bottom, s.right, h}};
  for (const Rect& r : strips) {
    if (r.right < r.left || r.bottom < r.top) continue;
    for (int y = std::max(r.top, 0); y < std::min(r.bottom, h); ++y)
      for (int x = std::max(r.left, 0); x < std::min(r.right, w); ++x) {
        const Color c = out.At(x, y);
        out.Set(x, y, Rgb(Blend(RedOf(c)), Blend(GreenOf(c)), Blend(BlueOf(c))));
      }
  }
  return out;
}

TEST(ScreenBackground, ComposeEqualsTheFourStripBlendAndTouchesOnlyItsArea) {
  const PixelBuffer shot = NoisyBuffer(64, 48);
  for (const Rect sel :
       {Rect{}, Rect{10, 5, 30, 20}, Rect{15, 5, 15, 20}, Rect{0, 0, 64, 48}, Rect{30, 40, 64, 48}}) {
    CScreenDlg dlg(1, 2);
    dlg.OnInitDialog(shot);
    dlg.m_rcSelection = sel;
    PixelBuffer shown(64, 48, 0x01020304);
    dlg.ComposeBackground(Rect{-10, -10, 100, 100}, shown.Data(), 64);
    EXPECT_EQ(shown,
              [&] {
                PixelBuffer want = FourStrips(shot, sel);
                for (int y = 0; y < 48; ++y)
                  for (int x = 0; x < 64; ++x) want.Set(x, y, 0xFF000000u | want.At(x, y));
                return want;
              }())
        << sel.left << "," << sel.top << "," << sel.right << "," << sel.bottom;
    // An area: nothing outside it is written.
    PixelBuffer part(64, 48, 0x01020304);
    dlg.ComposeBackground(Rect{5, 7, 25, 9}, part.Data(), 64);
    EXPECT_EQ(part.Data()[7 * 64 + 4], 0x01020304u);
    EXPECT_EQ(part.Data()[9 * 64 + 5], 0x01020304u);
    EXPECT_EQ(part.Data()[8 * 64 + 24], shown.Data()[8 * 64 + 24]);
  }
}

}  // namespace
}  // namespace parlex::testing
