// GdiCanvas against PixelCanvas: the same calls drawn into a 32-bit DIB
// section through GDI and into a PixelBuffer must give the same pixels.
// Every scenario starts both surfaces from the same background and compares
// every pixel; a difference is listed pixel by pixel.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "capture/ax_tracker.h"
#include "capture/pixel_canvas.h"
#include "capture/win32/gdi_canvas.h"
#include "capture/win32/tracker_resources_win32.h"

namespace parlex::win32 {
namespace {

using Background = std::function<uint32_t(int x, int y)>;
using Scene = std::function<void(Canvas&)>;

uint32_t Plain(int, int) { return 0x808080; }
// Every pixel different, so not-xor results show in every channel.
uint32_t Gradient(int x, int y) {
  return Rgb(static_cast<uint8_t>(x * 3), static_cast<uint8_t>(y * 5), static_cast<uint8_t>((x ^ y) * 7));
}

struct Diff {
  int x, y;
  Color gdi, pixel;
};

// A top-down 32-bit DIB section selected into a memory DC.
class DibSurface {
 public:
  DibSurface(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = ::CreateCompatibleDC(nullptr);
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = ::SelectObject(dc_, bitmap_);
  }
  ~DibSurface() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  bool Ok() const { return dc_ && bitmap_ && bits_; }
  HDC Dc() const { return dc_; }
  uint32_t* Bits() const { return bits_; }
  Color At(int x, int y) const { return bits_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF; }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// Writes the pixels as a 32-bit BMP when PARLEX_SNAPSHOT_DIR is set (for a
// person to look at; converted to PNG outside the test).
void Snapshot(const std::string& name, const uint32_t* pixels, int width, int height) {
  const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR");
  if (!dir) return;
  const std::string path = std::string(dir) + "/" + name + ".bmp";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  const DWORD bytes = static_cast<DWORD>(width * height * 4);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + bytes;
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = -height;
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  std::fwrite(&file, sizeof(file), 1, f);
  std::fwrite(&info, sizeof(info), 1, f);
  std::fwrite(pixels, 1, bytes, f);
  std::fclose(f);
}

struct Result {
  std::vector<Diff> diffs;
  PixelBuffer before{1, 1};
  PixelBuffer pixel{1, 1};
  std::vector<uint32_t> gdi;
};

Result DrawBoth(int width, int height, const Background& background, const Scene& scene,
                const std::string& snapshot = {}) {
  Result result;
  DibSurface dib(width, height);
  EXPECT_TRUE(dib.Ok());
  if (!dib.Ok()) return result;
  result.before = PixelBuffer(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      result.before.Set(x, y, background(x, y));
      dib.Bits()[static_cast<size_t>(y) * width + x] = background(x, y);
    }
  result.pixel = result.before;
  {
    PixelCanvas canvas(result.pixel);
    scene(canvas);
  }
  {
    GdiCanvas canvas(dib.Dc());
    scene(canvas);
  }
  ::GdiFlush();
  result.gdi.assign(dib.Bits(), dib.Bits() + static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (dib.At(x, y) != result.pixel.At(x, y))
        result.diffs.push_back(Diff{x, y, dib.At(x, y), result.pixel.At(x, y)});
  if (!snapshot.empty()) {
    Snapshot(snapshot + "_gdi", dib.Bits(), width, height);
    Snapshot(snapshot + "_pixel", result.pixel.Data(), width, height);
  }
  return result;
}

std::string Describe(const std::vector<Diff>& diffs) {
  std::string out;
  char line[96];
  for (size_t i = 0; i < diffs.size() && i < 60; ++i) {
    std::snprintf(line, sizeof line, "  (%d, %d): GDI %06X, PixelCanvas %06X\n", diffs[i].x, diffs[i].y,
                  static_cast<unsigned>(diffs[i].gdi), static_cast<unsigned>(diffs[i].pixel));
    out += line;
  }
  if (diffs.size() > 60) out += "  ... " + std::to_string(diffs.size() - 60) + " more\n";
  return out;
}

// The scene must have drawn something, and both sides must agree on all of it.
void ExpectSame(const Result& r) {
  EXPECT_TRUE(r.diffs.empty()) << r.diffs.size() << " pixels differ:\n" << Describe(r.diffs);
  EXPECT_FALSE(r.pixel == r.before) << "the scene drew nothing";
}

TEST(GdiCanvasAgreement, SolidLinesInEveryOctantBothWays) {
  auto scene = [](Canvas& c) {
    c.SelectPen(Pen{PenStyle::kSolid, Rgb(200, 20, 20)});
    const Point centre{40, 40};
    // Ends around a square: every slope from steep to flat in all octants.
    for (int i = -30; i <= 30; i += 3) {
      const Point ends[4] = {{40 + i, 8}, {72, 40 + i}, {40 - i, 72}, {8, 40 - i}};
      for (const Point& e : ends) {
        c.MoveTo(centre);
        c.LineTo(e);
      }
    }
    // The same lines drawn backwards in a second colour on the right half.
    c.SelectPen(Pen{PenStyle::kSolid, Rgb(20, 20, 200)});
    for (int i = -30; i <= 30; i += 7) {
      c.MoveTo(Point{120 + i / 2, 10});
      c.LineTo(Point{100, 40 + i});
      c.MoveTo(Point{140, 40 + i});
      c.LineTo(Point{100 + i, 75});
    }
    // A polyline: the current position moves with every LineTo.
    c.MoveTo(Point{5, 78});
    c.LineTo(Point{30, 79});
    c.LineTo(Point{31, 79});
    c.LineTo(Point{60, 77});
  };
  ExpectSame(DrawBoth(150, 82, Plain, scene, "lines"));
}

TEST(GdiCanvasAgreement, DottedAndDashDotDotPensOpaqueAndTransparent) {
  auto scene = [](Canvas& c) {
    const PenStyle styles[] = {PenStyle::kDot, PenStyle::kDashDotDot, PenStyle::kDash, PenStyle::kDashDot};
    int y = 4;
    for (PenStyle style : styles) {
      c.SelectPen(Pen{style, Rgb(10, 10, 10)});
      c.SetBackgroundColor(Rgb(250, 240, 0));
      for (BackgroundMode mode : {BackgroundMode::kOpaque, BackgroundMode::kTransparent}) {
        c.SetBackgroundMode(mode);
        c.MoveTo(Point{3, y});
        c.LineTo(Point{90, y});  // horizontal
        c.MoveTo(Point{3, y + 3});
        c.LineTo(Point{60, y + 20});  // shallow diagonal
        // Each LineTo starts the pattern afresh.
        c.MoveTo(Point{100, y});
        c.LineTo(Point{107, y});
        c.LineTo(Point{114, y + 4});
        c.LineTo(Point{100, y + 9});
        y += 24;
      }
    }
  };
  ExpectSame(DrawBoth(120, 4 + 8 * 24, Plain, scene, "pens"));
}

TEST(GdiCanvasAgreement, FillRectAndFrameRectWithSolidAndPatternBrushes) {
  auto odd = std::make_shared<BrushPattern>();
  odd->width = 3;
  odd->height = 2;
  odd->pixels = {Rgb(255, 0, 0),  Rgb(0, 255, 0),   Rgb(0, 0, 255),
                 Rgb(10, 20, 30), Rgb(255, 255, 0), Rgb(0, 0, 0)};
  const auto hatch = CAxTracker::MakeHatchPattern(TrackerSystemColors());
  auto scene = [&](Canvas& c) {
    c.SetRasterMode(RasterMode::kNotXorPen);  // ignored by both calls
    c.FillRect(Rect{2, 2, 20, 14}, Brush::Solid(Rgb(30, 120, 220)));
    c.FillRect(Rect{23, 3, 50, 21}, Brush::Pattern(hatch));
    c.FillRect(Rect{52, 1, 71, 17}, Brush::Pattern(odd));              // pattern aligned to the origin
    c.FillRect(Rect{30, 40, 20, 30}, Brush::Solid(Rgb(200, 0, 200)));  // inverted corners
    c.FillRect(Rect{5, 25, 5, 35}, Brush::Solid(Rgb(0, 0, 0)));        // no width: nothing
    c.FrameRect(Rect{2, 45, 30, 60}, Brush::Solid(Rgb(0, 128, 0)));
    c.FrameRect(Rect{35, 45, 70, 62}, Brush::Pattern(hatch));
    c.FrameRect(Rect{40, 50, 41, 51}, Brush::Solid(Rgb(255, 255, 255)));  // 1 x 1
    c.FrameRect(Rect{60, 30, 50, 40}, Brush::Solid(Rgb(0, 0, 0)));        // inverted: nothing
  };
  ExpectSame(DrawBoth(74, 64, Gradient, scene, "fills"));
}

TEST(GdiCanvasAgreement, RectanglesWithPensAndBrushes) {
  auto scene = [](Canvas& c) {
    c.SelectPen(Pen{PenStyle::kSolid, Rgb(0, 0, 160)});
    c.SelectBrush(Brush::Solid(Rgb(250, 200, 100)));
    c.Rectangle(Rect{2, 2, 20, 15});
    c.Rectangle(Rect{40, 30, 22, 4});  // corners in any order
    c.Rectangle(Rect{45, 4, 47, 6});   // 2 x 2: outline only
    c.SelectBrush(Brush::Null());
    c.SelectPen(Pen{PenStyle::kDot, Rgb(160, 0, 0)});
    c.Rectangle(Rect{3, 20, 39, 40});
    c.SelectPen(Pen{PenStyle::kNull, 0});
    c.SelectBrush(Brush::Solid(Rgb(0, 150, 0)));
    c.Rectangle(Rect{42, 20, 60, 40});  // no outline: the inside only
    c.Ellipse(Rect{2, 44, 30, 60});
    c.Ellipse(Rect{32, 44, 42, 50});
  };
  ExpectSame(DrawBoth(64, 64, Plain, scene, "rectangles"));
}

TEST(GdiCanvasAgreement, EllipsesOfSeveralSizes) {
  auto scene = [](Canvas& c) {
    c.SelectPen(Pen{PenStyle::kSolid, Rgb(0, 0, 0)});
    c.SelectBrush(Brush::Solid(Rgb(90, 200, 90)));
    const Rect boxes[] = {{2, 2, 5, 5},     {8, 2, 12, 6},    {15, 2, 20, 9},   {23, 2, 33, 8},
                          {36, 2, 56, 22},  {2, 25, 33, 42},  {36, 25, 77, 66}, {2, 45, 8, 75},
                          {10, 45, 30, 52}, {10, 55, 17, 56}, {80, 2, 81, 9}};
    for (const Rect& b : boxes) c.Ellipse(b);
  };
  ExpectSame(DrawBoth(84, 78, Plain, scene, "ellipses"));
}

TEST(GdiCanvasAgreement, PolygonsConvexConcaveAndSelfCrossing) {
  auto scene = [](Canvas& c) {
    c.SelectPen(Pen{PenStyle::kSolid, Rgb(0, 0, 0)});
    c.SelectBrush(Brush::Solid(Rgb(230, 120, 40)));
    const Point triangle[] = {{5, 5}, {40, 12}, {12, 38}};
    c.Polygon(triangle, 3);
    const Point concave[] = {{45, 5}, {80, 5}, {80, 40}, {62, 20}, {45, 40}};
    c.Polygon(concave, 5);
    // A star: the even-odd rule leaves the centre empty.
    const Point star[] = {{20, 45}, {30, 80}, {3, 58}, {37, 58}, {10, 80}};
    c.Polygon(star, 5);
    c.SelectPen(Pen{PenStyle::kDashDotDot, Rgb(0, 0, 200)});
    c.SelectBrush(Brush::Null());
    const Point diamond[] = {{60, 45}, {78, 62}, {60, 79}, {42, 62}};
    c.Polygon(diamond, 4);
  };
  ExpectSame(DrawBoth(84, 84, Plain, scene, "polygons"));
}

TEST(GdiCanvasAgreement, ClipRectLimitsEveryCall) {
  auto scene = [](Canvas& c) {
    const Rect clip{10, 8, 50, 40};
    c.SetClipRect(&clip);
    c.FillRect(Rect{0, 0, 60, 12}, Brush::Solid(Rgb(0, 90, 200)));
    c.SelectPen(Pen{PenStyle::kSolid, Rgb(200, 0, 0)});
    c.MoveTo(Point{0, 0});
    c.LineTo(Point{60, 48});
    c.SelectBrush(Brush::Solid(Rgb(0, 200, 0)));
    c.Ellipse(Rect{30, 20, 70, 50});
    c.SetPixel(Point{9, 20}, 0);  // outside: left alone
    c.SetPixel(Point{10, 20}, 0);
    const Rect inverted{5, 45, 1, 41};
    c.SetClipRect(&inverted);  // corners put in order
    c.FillRect(Rect{0, 38, 10, 48}, Brush::Solid(Rgb(255, 255, 0)));
    c.SetClipRect(nullptr);
    c.SetPixel(Point{55, 45}, Rgb(255, 0, 255));
  };
  ExpectSame(DrawBoth(60, 48, Gradient, scene, "clip"));
}

// Everything the drag loop draws under not-xor: single pixels, pen lines and
// brush fills. Drawing it twice must give the background back on both sides.
void NotXorScene(Canvas& c) {
  c.SetRasterMode(RasterMode::kNotXorPen);
  for (int x = 2; x < 50; x += 2) c.SetPixel(Point{x, 3}, Rgb(0, 0, 0));
  for (int x = 2; x < 50; ++x) c.SetPixel(Point{x, 6}, Rgb(28, 67, 255));
  c.SetPixel(Point{5, 20}, Rgb(255, 255, 255));
  c.SelectPen(Pen{PenStyle::kDot, Rgb(254, 91, 14)});
  c.MoveTo(Point{3, 10});
  c.LineTo(Point{55, 30});
  c.SelectPen(Pen{PenStyle::kSolid, Rgb(10, 200, 30)});
  c.SelectBrush(Brush::Solid(Rgb(100, 50, 25)));
  c.Rectangle(Rect{10, 30, 40, 45});
  c.Ellipse(Rect{30, 12, 58, 40});
  const Point tri[] = {{45, 2}, {58, 10}, {40, 14}};
  c.Polygon(tri, 3);
  c.SetRasterMode(RasterMode::kCopyPen);
}

TEST(GdiCanvasAgreement, NotXorOnceAgreesAndTwiceRestores) {
  const Result once = DrawBoth(60, 48, Gradient, NotXorScene, "notxor");
  ExpectSame(once);
  const Result twice = DrawBoth(60, 48, Gradient, [](Canvas& c) {
    NotXorScene(c);
    NotXorScene(c);
  });
  EXPECT_TRUE(twice.diffs.empty()) << Describe(twice.diffs);
  EXPECT_TRUE(twice.pixel == twice.before) << "PixelCanvas did not restore";
  size_t gdiChanged = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 60; ++x)
      if ((twice.gdi[static_cast<size_t>(y) * 60 + x] & 0xFFFFFF) != twice.before.At(x, y)) ++gdiChanged;
  EXPECT_EQ(gdiChanged, 0u) << "GDI did not restore";
}

class FixedOwner : public IAxTrackerEvents {
 public:
  explicit FixedOwner(Rect r) : r_(r) {}
  void GetRect(Rect* out) override { *out = r_; }

 private:
  Rect r_;
};

void ExpectTrackerAgrees(uint16_t style, const std::string& snapshot) {
  FixedOwner owner(Rect{100, 100, 200, 160});
  auto scene = [&](Canvas& c) {
    CAxTracker tracker(&owner, 6, 300, 'Q', 'W', 'E');
    InitTracker(tracker);
    tracker.style = style;
    tracker.Draw(c);
  };
  ExpectSame(DrawBoth(300, 260, Plain, scene, snapshot));
}

TEST(GdiCanvasAgreement, TrackerOfTheCaptureDialog) { ExpectTrackerAgrees(0x37FC, "tracker_37fc"); }

TEST(GdiCanvasAgreement, TrackerInTheDefaultStyle) { ExpectTrackerAgrees(0x07FE, "tracker_07fe"); }

TEST(GdiCanvasAgreement, TrackerWithHatchedBandAndDisabledHandles) {
  // Hatched band, handles inside, top and bottom-left handles disabled.
  ExpectTrackerAgrees(static_cast<uint16_t>((0x07FD | CAxTracker::tsHandlesInside) &
                                            ~(CAxTracker::tsHandleTop | CAxTracker::tsHandleBottomLeft)),
                      "tracker_hatched");
}

TEST(GdiCanvasAgreement, SharedHatchBitmapHoldsTheHatchPattern) {
  EnsureTrackerResources();
  HBITMAP hatch = TrackerHatchBitmap();
  ASSERT_NE(hatch, nullptr);
  BITMAP info{};
  ASSERT_NE(::GetObjectW(hatch, sizeof info, &info), 0);
  EXPECT_EQ(info.bmWidth, 4);
  EXPECT_EQ(info.bmHeight, 4);
  HDC mem = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(mem, hatch);
  const CAxTracker::SystemColors colors = TrackerSystemColors();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(FromColorRef(::GetPixel(mem, x, y)), (x + y) % 4 == 1 ? colors.activeCaption : colors.window)
          << x << "," << y;
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
  // Built once: a second call keeps the same bitmap.
  EnsureTrackerResources();
  EXPECT_EQ(TrackerHatchBitmap(), hatch);
}

}  // namespace
}  // namespace parlex::win32
