// CAxTracker: the rectangle tracker of the capture dialog. It paints the frame
// and the eight sizing handles of the owner's rectangle, tells which part lies
// under a point, picks the cursor for it, builds regions for invalidation and
// runs the drags that move the rectangle or one of its edges or corners.
//
// The tracker does not own the rectangle: it asks the owner (IAxTrackerEvents)
// with GetRect, proposes every intermediate rectangle with OnTracking (the
// owner may correct it in place, stores it and repaints) and reports the
// final one with OnTrackEnd.
//
// Platform seams: drawing goes through Canvas (canvas.h), the cursor and the
// drag loop's window through ITrackerWindow / ITrackHost (track_host.h), and
// the two system colours through `colors`, which the platform fills from
// GetSysColor(COLOR_ACTIVECAPTION) and GetSysColor(COLOR_WINDOW) (or its own
// palette) before the first paint.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "capture/canvas.h"
#include "capture/geometry.h"
#include "capture/region.h"
#include "capture/track_host.h"

namespace parlex {

class IAxTrackerEvents;

class CAxTracker {
 public:
  // Style bits.
  enum : uint16_t {
    tsHatchedBorder = 0x0001,  // band with the hatch pattern, closed by a 1-pixel outer line
    tsSolidBorder = 0x0002,    // band in the window colour with dots outside
    tsMovable = 0x0004,        // interior and band drag the whole rectangle
    tsHandleTop = 0x0008,
    tsHandleBottom = 0x0010,
    tsHandleLeft = 0x0020,
    tsHandleRight = 0x0040,
    tsHandleTopLeft = 0x0080,
    tsHandleTopRight = 0x0100,
    tsHandleBottomLeft = 0x0200,
    tsHandleBottomRight = 0x0400,
    tsHandlesInside = 0x0800,
    tsHandlesOnEdge = 0x1000,  // wins over tsHandlesInside
    tsLineFrame = 0x2000,
  };
  static constexpr uint16_t kDefaultStyle = 0x07FE;

  // Hit codes: 1 in the rectangle, 2 on band or handle, 4 top, 8 bottom,
  // 16 left, 32 right.
  enum : int32_t {
    hitNone = 0,
    hitInside = 1,
    hitBorder = 3,
    hitTop = 7,
    hitBottom = 11,
    hitLeft = 19,
    hitTopLeft = 23,
    hitBottomLeft = 27,
    hitRight = 35,
    hitTopRight = 39,
    hitBottomRight = 43,
  };

  // GetRegion parts.
  enum : uint32_t {
    rgnLeft = 0x01,
    rgnTop = 0x02,
    rgnRight = 0x04,
    rgnBottom = 0x08,
    rgnInterior = 0x10,
  };

  // Index 5 of the cursor table: the pointer shown while the rectangle moves.
  static constexpr int kMoveDragCursor = 5;
  // The drag loop's feedback timer.
  static constexpr uintptr_t kFeedbackTimerId = 0xFFEFF;
  // Colours of the drag loop's feedback.
  static constexpr Color kFeedbackFrameColor = Rgb(0, 0, 0);
  static constexpr Color kExtensionFrameColor = Rgb(28, 67, 255);
  // Pen of the guide lines.
  static constexpr Color kGuideLineColor = Rgb(254, 91, 14);

  // The two system colours the tracker paints with.
  struct SystemColors {
    Color activeCaption = Rgb(153, 180, 209);  // COLOR_ACTIVECAPTION: frame, handles, hatch lines, dots
    Color window = Rgb(255, 255, 255);         // COLOR_WINDOW: solid band, hatch ground, disabled handles
  };

  // The owner's handle on the guide lines of a proposed rectangle.
  class ITrackLines {
   public:
    virtual ~ITrackLines() = default;
    virtual void AddLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t side) = 0;
  };

  // One guide line. (x2, y2) is the end that follows the rectangle's side.
  struct CLine {
    enum : uint16_t { sideLeft = 1, sideTop = 2, sideRight = 4, sideBottom = 8 };

    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
    uint16_t side = 0;  // any other value: never moved or hidden
    int32_t dx = 0;     // horizontal extension offset accumulated on the line
    int32_t dy = 0;     // vertical extension offset accumulated on the line

    friend bool operator==(const CLine&, const CLine&) = default;
  };

  // The guide lines of one rectangle, drawn as dotted lines under the
  // not-xor raster mode so that drawing them again removes them.
  class CLineColl : public ITrackLines {
   public:
    CLineColl() = default;
    ~CLineColl() { Clear(); }
    CLineColl(const CLineColl&) = delete;
    CLineColl& operator=(const CLineColl&) = delete;

    // Appends a line with dx = dy = 0.
    void AddLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t side) override;
    // Draws every line with the collection's pen (created at the first
    // drawing: dotted, 1 pixel, kGuideLineColor). A line on sideTop or
    // sideBottom is skipped while dx != 0, one on sideLeft or sideRight while
    // dy != 0; otherwise the end point moves out by dx (left: x2 - dx, right:
    // x2 + dx) and by dy (top: y2 - dy, bottom: y2 + dy).
    void Draw(Canvas& dc);
    // Draw (removes the lines), add (ax, ay) to every line's (dx, dy), Draw.
    void Offset(Canvas& dc, int32_t ax, int32_t ay);
    // Exchange lines with another collection; each keeps its own pen.
    void Swap(CLineColl& other) noexcept { lines.swap(other.lines); }
    // Drops the pen and every line.
    void Clear();

    bool HasPen() const { return pen.has_value(); }

    std::vector<CLine> lines;  // in the order added
    std::optional<Pen> pen;    // none until the first drawing
  };

  // Stores the arguments; style kDefaultStyle, rect (0, 0, 0, 0). The capture
  // dialog constructs its tracker with (nullptr, 6, 300, 'Q', 'W', 'E').
  CAxTracker(IAxTrackerEvents* owner = nullptr, uint8_t handleSize = 6, uint16_t feedbackDelay = 300,
             uint32_t keyExtendX = 0, uint32_t keyExtendY = 0, uint32_t keyShrink = 0);

  // Sets the owner; answers the previous one.
  IAxTrackerEvents* SetEvents(IAxTrackerEvents* events);

  // Paints the tracker for the owner's rectangle and leaves `rect` as the
  // outer rectangle that holds the handles. Restores the canvas's pen.
  void Draw(Canvas& dc);

  // The hit code of point on `rect` (the state of the last paint).
  int32_t HitTest(Point point) const;
  // The cursor index (0 to 5) for a hit code under the current style, or -1.
  int CursorFromHit(int32_t hit) const;
  // Shows cursor 5 for hitInside and hitBorder; nothing for other codes.
  void SetDragCursor(ITrackerWindow& window, int32_t hit) const;
  // The set-cursor message: hitTestCode is the low word of its lParam (1 =
  // HTCLIENT). True when the tracker set a cursor.
  bool OnSetCursor(ITrackerWindow& window, uint32_t hitTestCode) const;

  // The region of `parts` of `rect`; none when `rect` is empty.
  std::optional<Region> GetRegion(uint32_t parts) const;

  // The drag loop (track_loop.h): true when committed with an owner set
  // (OnTrackEnd has then been called).
  bool Track(ITrackHost& host, Point point, bool rubberBand, uint16_t growX, uint16_t growY, uint16_t shrinkX,
             uint16_t shrinkY, bool feedback);

  // The 4 x 4 hatch tile: window colour, frame colour where x + y = 1 mod 4.
  static std::shared_ptr<const BrushPattern> MakeHatchPattern(const SystemColors& colors);

  // Members, plain data; the owner writes `style` directly.
  IAxTrackerEvents* owner = nullptr;
  uint16_t style = kDefaultStyle;
  Rect rect{};
  uint8_t handleSize = 6;
  uint32_t keyExtendX = 0;
  uint32_t keyExtendY = 0;
  uint32_t keyShrink = 0;
  uint16_t feedbackDelay = 300;
  SystemColors colors{};

 private:
  // Without an owner, the rectangle of the last paint before growing, and
  // the rectangle that paint left, so that painting again redraws the same
  // selection instead of growing it at every call.
  Rect drawnBase_{};
  Rect drawnOuter_{};
  bool drawn_ = false;
};

// The owner of a tracker. Slot order: OnTracking, GetRect, OnTrackEnd,
// OnDrawTracking.
class IAxTrackerEvents {
 public:
  // Once per mouse move of a drag, before anything is drawn. proposed may be
  // changed in place; previous is the last accepted rectangle; xDir/yDir: 0
  // = the mouse has been moving toward larger x/y, 1 = toward smaller; extX,
  // extY: the extension amounts applied now (0 when none); lines: guide
  // lines for proposed, valid during the call only.
  virtual void OnTracking(Rect* proposed, int32_t hit, const Rect* previous, bool xDir, bool yDir,
                          int32_t extX, int32_t extY, CAxTracker::ITrackLines* lines) {
    (void)proposed, (void)hit, (void)previous, (void)xDir, (void)yDir, (void)extX, (void)extY, (void)lines;
  }
  // The owner's current rectangle.
  virtual void GetRect(Rect* out) = 0;
  // Once at a committed end of a drag, with the rectangle without extension.
  virtual void OnTrackEnd(const Rect* final) { (void) final; }
  // Whenever the feedback frame is drawn or removed: draw so that a second
  // identical call removes it (the canvas is in not-xor mode).
  virtual void OnDrawTracking(Canvas* dc, const Rect* rect) { (void)dc, (void)rect; }

  virtual ~IAxTrackerEvents() = default;
};

}  // namespace parlex
