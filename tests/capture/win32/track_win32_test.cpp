// Real drags on a real window under Wine: the tracker's window answers
// WM_LBUTTONDOWN with TrackWin32, and a script on a second window's timer
// posts the input the user would give (button, moves, keys) or does what
// another part of the program might do meanwhile (take the capture, post a
// quit). The owner records every callback.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "capture/ax_tracker.h"
#include "capture/win32/gdi_canvas.h"
#include "capture/win32/track_host_win32.h"
#include "capture/win32/tracker_resources_win32.h"

namespace parlex::win32 {
namespace {

constexpr Rect kSelection{100, 100, 200, 160};

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

struct Tracking {
  Rect proposed;
  int32_t hit;
  int32_t extX, extY;
};

// The window's pixels, read back from its DC.
std::vector<uint32_t> ReadWindow(HWND hwnd, int w, int h) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  HDC dc = ::GetDC(hwnd);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC mem = ::CreateCompatibleDC(dc);
  HBITMAP dib = ::CreateDIBSection(mem, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(mem, dib);
  ::BitBlt(mem, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  ::GdiFlush();
  const auto* src = static_cast<const uint32_t*>(bits);
  for (size_t i = 0; i < px.size(); ++i) px[i] = src[i] & 0xFFFFFF;
  ::SelectObject(mem, old);
  ::DeleteObject(dib);
  ::DeleteDC(mem);
  ::ReleaseDC(hwnd, dc);
  return px;
}

// The window with the tracker; it is the tracker's owner.
class TrackerWindow : public IAxTrackerEvents {
 public:
  TrackerWindow() : tracker_(nullptr, 6, 300, 'Q', 'W', 'E') {
    InitTracker(tracker_);
    tracker_.SetEvents(this);
    tracker_.style = 0x37FC;
    hwnd_ = ::CreateWindowExW(0, L"ParlexTrackTestWindow", L"tracker", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    ::UpdateWindow(hwnd_);  // the first paint puts the tracker where HitTest looks
  }
  ~TrackerWindow() override { ::DestroyWindow(hwnd_); }

  static void Register() {
    static bool done = false;
    if (done) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = &TrackerWindow::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ParlexTrackTestWindow";
    wc.hbrBackground = nullptr;
    ::RegisterClassW(&wc);
    done = true;
  }

  // IAxTrackerEvents
  void GetRect(Rect* out) override { *out = selection_; }
  void OnTracking(Rect* proposed, int32_t hit, const Rect*, bool, bool, int32_t extX, int32_t extY,
                  CAxTracker::ITrackLines*) override {
    tracking_.push_back(Tracking{*proposed, hit, extX, extY});
    if (repaint_) {
      selection_ = *proposed;
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      ::UpdateWindow(hwnd_);
    }
  }
  void OnTrackEnd(const Rect* final) override {
    ends_.push_back(*final);
    selection_ = *final;
  }
  void OnDrawTracking(Canvas*, const Rect* rect) override { drawTracking_.push_back(*rect); }

  HWND hwnd_ = nullptr;
  CAxTracker tracker_;
  Rect selection_ = kSelection;
  bool repaint_ = true;
  bool feedback_ = false;
  std::vector<Tracking> tracking_;
  std::vector<Rect> ends_;
  std::vector<Rect> drawTracking_;
  int tracks_ = 0;
  bool lastResult_ = false;
  std::vector<uint32_t> snapshot_;  // the window's pixels at WM_APP
  int wheels_ = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<TrackerWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        {
          GdiCanvas canvas(dc);
          canvas.FillRect(Rect{0, 0, 400, 300}, Brush::Solid(Rgb(128, 128, 128)));
          self->tracker_.Draw(canvas);
        }
        ::EndPaint(hwnd, &ps);
        return 0;
      }
      case WM_APP:
        self->snapshot_ = ReadWindow(hwnd, 400, 300);
        return 0;
      case WM_MOUSEWHEEL:
        ++self->wheels_;
        return 0;
      case WM_SETCURSOR:
        if (TrackerSetCursor(self->tracker_, hwnd, lp)) return TRUE;
        break;
      case WM_LBUTTONDOWN:
        ++self->tracks_;
        self->lastResult_ = TrackWin32(
            self->tracker_, hwnd, Point{static_cast<int16_t>(LOWORD(lp)), static_cast<int16_t>(HIWORD(lp))},
            false, 8, 8, 5, 5, self->feedback_);
        return 0;
      default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
};

// A plain window whose timer runs the script, one step per tick.
class Script {
 public:
  explicit Script(std::vector<std::function<void()>> steps, UINT interval = 15) : steps_(std::move(steps)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Script::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ParlexTrackTestScript";
    ::RegisterClassW(&wc);  // fails harmlessly when registered before
    hwnd_ = ::CreateWindowExW(0, L"ParlexTrackTestScript", L"script", WS_POPUP, 500, 0, 50, 50, nullptr,
                              nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetTimer(hwnd_, 1, interval, nullptr);
  }
  ~Script() { ::DestroyWindow(hwnd_); }
  bool Done() const { return next_ >= steps_.size(); }
  HWND Hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Script*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_TIMER && self && wp == 1) {
      if (self->next_ < self->steps_.size()) {
        self->steps_[self->next_++]();
      } else {
        ::KillTimer(hwnd, 1);
      }
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }

  HWND hwnd_ = nullptr;
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
};

// The program's own message loop, bounded: runs until the script is done and
// no drag is under way, a quit arrives, or 10 seconds pass. Answers the quit
// code, or -1 when no quit came.
int RunUntilDone(const Script& script) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < 10000) {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) return static_cast<int>(m.wParam);
      ::DispatchMessageW(&m);
    }
    if (script.Done()) {
      // Let what the last step posted arrive.
      ::Sleep(30);
      if (!::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE)) return -1;
      continue;
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  ADD_FAILURE() << "the script did not finish in time";
  return -1;
}

class TrackWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    TrackerWindow::Register();
    window_ = std::make_unique<TrackerWindow>();
    ASSERT_NE(window_->hwnd_, nullptr);
    // The tracker rectangle of the first paint (capture dialog style).
    ASSERT_EQ(window_->tracker_.rect, (Rect{98, 98, 202, 162}));
    // The real pointer rests over the press point, so any move the system
    // itself makes up is at a known place.
    POINT p{150, 130};
    ::ClientToScreen(window_->hwnd_, &p);
    ::SetCursorPos(p.x, p.y);
  }
  void TearDown() override {
    window_.reset();
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  void Post(UINT msg, WPARAM wp, LPARAM lp) { ::PostMessageW(window_->hwnd_, msg, wp, lp); }
  std::function<void()> Press(int x, int y) {
    return [=, this] { Post(WM_LBUTTONDOWN, MK_LBUTTON, At(x, y)); };
  }
  std::function<void()> Move(int x, int y) {
    return [=, this] { Post(WM_MOUSEMOVE, MK_LBUTTON, At(x, y)); };
  }
  std::function<void()> Release(int x, int y) {
    return [=, this] { Post(WM_LBUTTONUP, 0, At(x, y)); };
  }
  std::function<void()> Key(UINT msg, WPARAM vk) {
    return [=, this] { Post(msg, vk, 1); };
  }
  // The rectangles proposed with the given hit code, in order.
  std::vector<Rect> Proposed(int32_t hit) const {
    std::vector<Rect> out;
    for (const Tracking& t : window_->tracking_)
      if (t.hit == hit) out.push_back(t.proposed);
    return out;
  }

  std::unique_ptr<TrackerWindow> window_;
};

TEST_F(TrackWin32Test, DraggingTheBottomRightHandleResizesAndCommits) {
  Script script({Press(199, 159), Move(210, 165), Move(230, 180), Release(230, 180)});
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_EQ(window_->tracks_, 1);
  EXPECT_TRUE(window_->lastResult_);
  ASSERT_FALSE(window_->tracking_.empty());
  for (const Tracking& t : window_->tracking_) {
    EXPECT_EQ(t.hit, CAxTracker::hitBottomRight);
    EXPECT_EQ(t.extX, 0);
    EXPECT_EQ(t.extY, 0);
  }
  // The posted moves, in order, at the end of what the owner saw.
  const std::vector<Rect> seen = Proposed(CAxTracker::hitBottomRight);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[seen.size() - 2], (Rect{100, 100, 210, 165}));
  EXPECT_EQ(seen.back(), (Rect{100, 100, 230, 180}));
  ASSERT_EQ(window_->ends_.size(), 1u);
  EXPECT_EQ(window_->ends_[0], (Rect{100, 100, 230, 180}));
  EXPECT_EQ(::GetCapture(), nullptr);
  // The owner repainted: the tracker now surrounds the new selection.
  EXPECT_EQ(window_->tracker_.rect, (Rect{98, 98, 232, 182}));
}

TEST_F(TrackWin32Test, EscCommitsTheRectangleReachedSoFar) {
  Script script(
      {Press(150, 130), Move(160, 140), Key(WM_KEYDOWN, VK_ESCAPE), Move(190, 190), Release(190, 190)});
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_TRUE(window_->lastResult_);
  ASSERT_EQ(window_->ends_.size(), 1u);
  EXPECT_EQ(window_->ends_[0], (Rect{110, 110, 210, 170}));
  const std::vector<Rect> seen = Proposed(CAxTracker::hitInside);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), (Rect{110, 110, 210, 170}));
  // The moves after Esc reached the window, not the tracker.
  for (const Tracking& t : window_->tracking_) EXPECT_NE(t.proposed, (Rect{140, 160, 240, 220}));
  EXPECT_EQ(::GetCapture(), nullptr);
}

TEST_F(TrackWin32Test, WidenKeyExtendsTheMoveButNotTheResult) {
  Script script({Press(150, 130), Key(WM_KEYDOWN, 'Q'), Move(160, 130), Release(160, 130)});
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_TRUE(window_->lastResult_);
  ASSERT_FALSE(window_->tracking_.empty());
  const Tracking& last = window_->tracking_.back();
  EXPECT_EQ(last.proposed, (Rect{102, 100, 218, 160}));
  EXPECT_EQ(last.extX, 8);
  EXPECT_EQ(last.extY, 0);
  ASSERT_EQ(window_->ends_.size(), 1u);
  EXPECT_EQ(window_->ends_[0], (Rect{110, 100, 210, 160}));
}

TEST_F(TrackWin32Test, LosingTheCaptureEndsWithoutTrackEnd) {
  HWND thief = nullptr;
  Script script({Press(150, 130), Move(160, 140),
                 [&] {
                   // Another window of the program takes the mouse.
                   thief =
                       ::CreateWindowExW(0, L"ParlexTrackTestScript", L"thief", WS_POPUP | WS_VISIBLE, 600, 0,
                                         40, 40, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
                   ::SetCapture(thief);
                 },
                 Move(180, 150), Release(180, 150)});
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_EQ(window_->tracks_, 1);
  EXPECT_FALSE(window_->lastResult_);
  EXPECT_TRUE(window_->ends_.empty());
  // The rectangle proposed before the loss stays with the owner.
  ASSERT_FALSE(window_->tracking_.empty());
  EXPECT_EQ(window_->tracking_.back().proposed, (Rect{110, 110, 210, 170}));
  EXPECT_EQ(window_->selection_, (Rect{110, 110, 210, 170}));
  if (thief) {
    ::ReleaseCapture();
    ::DestroyWindow(thief);
  }
}

TEST_F(TrackWin32Test, QuitDuringADragEndsItAndIsPostedAgain) {
  Script script({Press(150, 130), Move(160, 140), [] { ::PostQuitMessage(77); }, Move(170, 170)});
  EXPECT_EQ(RunUntilDone(script), 77);
  EXPECT_EQ(window_->tracks_, 1);
  EXPECT_FALSE(window_->lastResult_);
  EXPECT_TRUE(window_->ends_.empty());
  EXPECT_EQ(::GetCapture(), nullptr);
  ASSERT_FALSE(window_->tracking_.empty());
  EXPECT_EQ(window_->tracking_.back().proposed, (Rect{110, 110, 210, 170}));
}

TEST_F(TrackWin32Test, PressWithoutCursorOrWithCaptureHeldDoesNotTrack) {
  // (120, 99) lies on the band between two handles: no cursor there.
  Script script({Press(120, 99), Move(130, 110), Release(130, 110)});
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_EQ(window_->tracks_, 1);
  EXPECT_FALSE(window_->lastResult_);
  EXPECT_TRUE(window_->tracking_.empty());
  EXPECT_TRUE(window_->ends_.empty());

  ::SetCapture(window_->hwnd_);
  Script held({Press(150, 130), Move(160, 140), Release(160, 140)});
  EXPECT_EQ(RunUntilDone(held), -1);
  EXPECT_EQ(window_->tracks_, 2);
  EXPECT_FALSE(window_->lastResult_);
  EXPECT_TRUE(window_->tracking_.empty());
  ::ReleaseCapture();
}

TEST_F(TrackWin32Test, SetCursorShowsTheTrackerCursorOfTheHandle) {
  ASSERT_NE(TrackerCursor(0), nullptr) << "cursor 207 missing from the executable";
  HINSTANCE self = ::GetModuleHandleW(nullptr);
  for (int i = 0; i < 6; ++i) {
    EXPECT_NE(TrackerCursor(i), nullptr) << i;
    EXPECT_EQ(TrackerCursor(i), ::LoadCursorW(self, MAKEINTRESOURCEW(207 + i))) << i;
  }
  EXPECT_EQ(TrackerCursor(6), nullptr);
  struct Case {
    POINT at;
    int cursor;  // -1: the tracker leaves the cursor alone
  } cases[] = {{{99, 99}, 0},  {{200, 99}, 1},  {{150, 99}, 2},
               {{99, 130}, 3}, {{150, 130}, 4}, {{120, 99}, -1}};
  for (const Case& c : cases) {
    POINT p = c.at;
    ::ClientToScreen(window_->hwnd_, &p);
    ::SetCursorPos(p.x, p.y);
    ::SetCursor(nullptr);
    const LRESULT handled =
        ::SendMessageW(window_->hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_->hwnd_),
                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    if (c.cursor >= 0) {
      EXPECT_TRUE(handled) << c.at.x << "," << c.at.y;
      EXPECT_EQ(::GetCursor(), TrackerCursor(c.cursor)) << c.at.x << "," << c.at.y;
    } else {
      EXPECT_FALSE(handled) << c.at.x << "," << c.at.y;
    }
  }
  // Outside the client area the tracker does not answer.
  EXPECT_FALSE(::SendMessageW(window_->hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_->hwnd_),
                              MAKELPARAM(HTCAPTION, WM_MOUSEMOVE)));
}

TEST_F(TrackWin32Test, FeedbackFrameIsDrawnOnTheWindowAndRemovedWithoutTrace) {
  // An owner that does not repaint: the feedback alone changes the window.
  window_->repaint_ = false;
  window_->feedback_ = true;
  const std::vector<uint32_t> before = ReadWindow(window_->hwnd_, 400, 300);
  Script script({Press(150, 130), Move(160, 140), Key(WM_KEYDOWN, 'Q'), Move(170, 150),
                 // A message of its own: timers of other windows take the feedback
                 // off the screen while they are handled.
                 [&] { Post(WM_APP, 0, 0); }, Release(170, 150)},
                40);
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_TRUE(window_->lastResult_);
  ASSERT_EQ(window_->ends_.size(), 1u);
  EXPECT_EQ(window_->ends_[0], (Rect{120, 120, 220, 180}));
  // The owner was asked to draw into the feedback, inside the extension.
  ASSERT_FALSE(window_->drawTracking_.empty());
  EXPECT_EQ(window_->drawTracking_.back(), (Rect{120, 120, 220, 180}));
  const std::vector<uint32_t>& during = window_->snapshot_;
  ASSERT_EQ(during.size(), before.size());
  // During the drag: the black dotted frame at the inner rectangle's top-left
  // corner and the blue extension frame 8 pixels further out.
  auto at = [](const std::vector<uint32_t>& px, int x, int y) {
    return px[static_cast<size_t>(y) * 400 + x];
  };
  EXPECT_NE(at(during, 120, 120), at(before, 120, 120));
  EXPECT_NE(at(during, 113, 120), at(before, 113, 120));
  const std::vector<uint32_t> after = ReadWindow(window_->hwnd_, 400, 300);
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
  EXPECT_EQ(changed, 0u) << "the feedback left pixels behind";
}

TEST_F(TrackWin32Test, FeedbackTimerShowsTheFrameWithoutAMove) {
  window_->repaint_ = false;
  window_->feedback_ = true;
  const std::vector<uint32_t> before = ReadWindow(window_->hwnd_, 400, 300);
  auto idle = [] {};
  // The press, then nothing for longer than the 300 ms delay.
  Script script({Press(150, 130), idle, idle, idle, idle, idle, idle, idle, idle, idle, idle,
                 [&] { Post(WM_APP, 0, 0); }, Release(150, 130)},
                40);
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_TRUE(window_->lastResult_);
  EXPECT_TRUE(window_->tracking_.empty());
  ASSERT_EQ(window_->ends_.size(), 1u);
  EXPECT_EQ(window_->ends_[0], kSelection);
  // Drawn by the timer and removed at the end; in between, every tick of the
  // script's own timer takes it off and puts it back around its dispatch.
  ASSERT_GE(window_->drawTracking_.size(), 2u);
  EXPECT_EQ(window_->drawTracking_.size() % 2, 0u);
  for (const Rect& r : window_->drawTracking_) EXPECT_EQ(r, kSelection);
  const std::vector<uint32_t>& during = window_->snapshot_;
  ASSERT_EQ(during.size(), before.size());
  // The dotted frame along the selection's edge (every second pixel).
  EXPECT_NE(during[100 * 400 + 110], before[100 * 400 + 110]);
  EXPECT_EQ(during[100 * 400 + 111], before[100 * 400 + 111]);
  EXPECT_NE(during[159 * 400 + 110], before[159 * 400 + 110]);
  const std::vector<uint32_t> after = ReadWindow(window_->hwnd_, 400, 300);
  EXPECT_TRUE(after == before) << "the feedback left pixels behind";
}

TEST_F(TrackWin32Test, WheelDuringADragIsDispatchedAndTheDragGoesOn) {
  window_->repaint_ = false;
  window_->feedback_ = true;
  const std::vector<uint32_t> before = ReadWindow(window_->hwnd_, 400, 300);
  Script script({Press(150, 130), Move(160, 140),
                 [&] { Post(WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), At(160, 140)); }, Move(170, 150),
                 Release(170, 150)});
  EXPECT_EQ(RunUntilDone(script), -1);
  EXPECT_EQ(window_->wheels_, 1);
  EXPECT_TRUE(window_->lastResult_);
  ASSERT_EQ(window_->ends_.size(), 1u);
  EXPECT_EQ(window_->ends_[0], (Rect{120, 120, 220, 180}));
  EXPECT_EQ(window_->drawTracking_.size() % 2, 0u);
  EXPECT_TRUE(ReadWindow(window_->hwnd_, 400, 300) == before) << "the feedback left pixels behind";
}

TEST(RegionToHrgn, HoldsExactlyTheRegionsPixels) {
  Region ring(Rect{10, 10, 50, 40});
  ring.Subtract(Region(Rect{16, 16, 44, 34}));
  HRGN rgn = RegionToHrgn(ring);
  ASSERT_NE(rgn, nullptr);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x)
      ASSERT_EQ(::PtInRegion(rgn, x, y) != 0, ring.Contains(Point{x, y})) << x << "," << y;
  ::DeleteObject(rgn);
  HRGN empty = RegionToHrgn(Region());
  ASSERT_NE(empty, nullptr);
  RECT box{};
  EXPECT_EQ(::GetRgnBox(empty, &box), NULLREGION);
  ::DeleteObject(empty);
}

}  // namespace
}  // namespace parlex::win32
