// A capture window over memory for CScreenDlg's tests: the screen is a pixel
// buffer painted the way the platforms paint (invalid areas collected,
// ComposeBackground + PaintOverlay on each at UpdateNow), the buttons and the
// editor are plain state, the drag loop is the scripted host of the tracker's
// tests, and the image encoder writes a recognisable blob of raw pixels.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "capture/screen_dlg.h"
#include "tracker_fakes.h"

namespace parlex::testing {

// The fake encoder's output: "IMG<encoder> <width>x<height>\n", then the
// pixels as R, G, B bytes row by row.
inline std::string EncodeBlob(size_t encoder, const PixelBuffer& image) {
  std::string out = "IMG" + std::to_string(encoder) + " " + std::to_string(image.Width()) + "x" +
                    std::to_string(image.Height()) + "\n";
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      const Color c = image.At(x, y);
      out += static_cast<char>(RedOf(c));
      out += static_cast<char>(GreenOf(c));
      out += static_cast<char>(BlueOf(c));
    }
  return out;
}

// Equal pixels, or where the first difference lies.
inline ::testing::AssertionResult SamePixels(const PixelBuffer& a, const PixelBuffer& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "sizes differ";
  int count = 0;
  std::string first;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.At(x, y) != b.At(x, y) && count++ == 0)
        first = std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(a.At(x, y)) + " vs " +
                std::to_string(b.At(x, y));
  if (count == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << count << " pixels differ, first at " << first;
}

// The dimmed copy is still the snapshot under grey 127 at opacity 127.
inline ::testing::AssertionResult DimmedFollowsSnapshot(const CScreenDlg& dlg) {
  const PixelBuffer& snap = dlg.Snapshot();
  PixelBuffer want(snap.Width(), snap.Height());
  auto blend = [](uint8_t d) { return static_cast<uint8_t>((127 * 127 + d * 128) / 255); };
  for (int y = 0; y < snap.Height(); ++y)
    for (int x = 0; x < snap.Width(); ++x) {
      const Color c = snap.At(x, y);
      want.Set(x, y, Rgb(blend(RedOf(c)), blend(GreenOf(c)), blend(BlueOf(c))));
    }
  return SamePixels(dlg.Dimmed(), want);
}

class FakeScreenView : public IScreenView {
 public:
  struct Button {
    bool shown = false;
    bool checked = false;
    bool enabled = true;
    Rect cell{};
  };

  FakeScreenView(int w, int h) : host(w, h), surface(w, h, 0xDEADBEEF), width(w), height(h) {}

  // The dialog whose paints and focus notifications this view delivers.
  void Attach(CScreenDlg* d) {
    dlg = d;
    d->SetView(this);
  }
  // The push-like radio group: checking one tool unchecks the others.
  void Check(int id) {
    for (int tool : {kBtnArrow, kBtnEllipse, kBtnRectangle, kBtnText, kBtnPen, kBtnMosaic})
      buttons[tool].checked = tool == id;
  }

  // What a paint of the whole window shows now.
  PixelBuffer FullPaint() {
    PixelBuffer full(width, height);
    dlg->ComposeBackground(Rect{0, 0, width, height}, full.Data(), width);
    PixelCanvas canvas(full, 0xFF);
    dlg->PaintOverlay(canvas);
    return full;
  }

  ITrackHost& TrackHost() override { return host; }
  void ShowButton(int id, bool show) override {
    buttons[id].shown = show;
    shown.push_back(show ? id : -id);
  }
  void MoveButton(int id, const Rect& cell) override { buttons[id].cell = cell; }
  bool IsButtonChecked(int id) override { return buttons[id].checked; }
  void UncheckButton(int id) override { buttons[id].checked = false; }
  void EnableButton(int id, bool enable) override { buttons[id].enabled = enable; }

  void Invalidate(const Region* region) override {
    if (region)
      invalid.Union(*region);
    else
      invalid = Region(Rect{0, 0, width, height});
  }
  void InvalidateRect(const Rect& rect) override { invalid.Union(Region(rect)); }
  void UpdateNow() override {
    // Each invalid rectangle: the background, then the overlay clipped to it.
    for (const Rect& r : invalid.Rects()) {
      painted += Region(r).Area();
      dlg->ComposeBackground(r, surface.Data(), width);
      PixelCanvas canvas(surface, 0xFF);
      canvas.SetClipRect(&r);
      dlg->PaintOverlay(canvas);
    }
    invalid = Region();
  }

  void CaptureMouse() override { ++captures; }
  void ReleaseMouse() override { --captures; }
  Canvas* AcquireDragCanvas() override {
    dragCanvas.emplace(surface, 0xFF);
    return &*dragCanvas;
  }
  void ReleaseDragCanvas(Canvas* c) override {
    if (c == &*dragCanvas) dragCanvas.reset();
  }

  bool CreateEditor(Point at) override {
    editor = Rect{at.x, at.y, at.x, at.y};
    editorText.clear();
    return true;
  }
  bool HasEditor() override { return editor.has_value(); }
  EditorMetrics EditorTextMetrics() override { return metrics; }
  // Every character is charWidth pixels wide.
  int32_t EditorTextWidth(std::u16string_view line) override {
    measured.emplace_back(line);
    return static_cast<int32_t>(line.size()) * charWidth;
  }
  Rect EditorRect() override { return *editor; }
  void MoveEditor(const Rect& rect) override { editor = rect; }
  void FocusEditor() override { editorFocused = true; }
  std::u16string EditorText(size_t maxUnits) override { return editorText.substr(0, maxUnits); }
  int32_t EditorLineCount() override {
    return 1 + static_cast<int32_t>(std::count(editorText.begin(), editorText.end(), u'\n')) +
           extraWrappedLines;
  }
  // The editor's look: white, with a red bar of charWidth - 2 pixels per
  // character in the middle rows, and one pixel of near-white anti-aliasing.
  bool RenderEditor(PixelBuffer* out) override {
    *out = PixelBuffer(editor->right - editor->left, editor->bottom - editor->top, 0xFFFFFF);
    for (size_t i = 0; i < editorText.size(); ++i)
      for (int y = 3; y < 9 && y < out->Height(); ++y)
        for (int x = 1; x < charWidth - 1; ++x)
          if (static_cast<int>(i) * charWidth + x < out->Width())
            out->Set(static_cast<int>(i) * charWidth + x, y, Rgb(255, 0, 0));
    if (out->Width() > 0 && out->Height() > 10) out->Set(0, 10, Rgb(254, 255, 255));
    return true;
  }
  void DestroyEditor() override {
    editor.reset();
    editorFocused = false;
  }
  void FocusWindow() override {
    // The editor loses the focus: the platform reports it to the dialog.
    if (editorFocused) {
      editorFocused = false;
      dlg->CommitText();
    }
  }

  std::optional<std::u16string> AskSavePath() override {
    ++saveQuestions;
    return savePath;
  }
  std::vector<ImageEncoderInfo> ImageEncoders() override {
    return {{u"*.BMP;*.DIB;*.RLE"}, {u"*.JPG;*.JPEG;*.JPE;*.JFIF"}, {u"*.PNG"}};
  }
  std::optional<std::string> EncodeImage(size_t index, const PixelBuffer& image) override {
    return EncodeBlob(index, image);
  }
  bool CopyImage(const PixelBuffer& image) override {
    if (!clipboardWorks) return false;
    clipboard = image;
    return true;
  }
  void EndDialog(int result) override { results.push_back(result); }
  void ShowSizeLabel(const Rect& where, std::u16string_view text) override {
    sizeLabels.emplace_back(text);
    sizeLabelAt = where;
  }
  void ShowStatus(const Rect& where, std::u16string_view text) override {
    statusTexts.emplace_back(text);
    statusAt = where;
  }
  // The window's wait during an upload: busy() asked every 10 ms, and
  // onServe (when set) run at each turn, as input arriving meanwhile.
  void ServeWhile(const std::function<bool()>& busy) override {
    for (int turn = 0; busy(); ++turn) {
      if (onServe) onServe(turn);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  CScreenDlg* dlg = nullptr;
  ScriptedHost host;
  PixelBuffer surface;
  int width, height;
  Region invalid;
  long long painted = 0;
  std::map<int, Button> buttons;
  std::vector<int> shown;  // ShowButton calls: id shown, -id hidden
  std::optional<PixelCanvas> dragCanvas;
  int captures = 0;
  std::optional<Rect> editor;
  std::u16string editorText;
  bool editorFocused = false;
  EditorMetrics metrics{13, 3, 7};
  int32_t charWidth = 7;
  int32_t extraWrappedLines = 0;
  std::vector<std::u16string> measured;
  std::optional<std::u16string> savePath;
  int saveQuestions = 0;
  std::vector<int> results;
  std::vector<std::u16string> statusTexts;  // ShowStatus calls; u"" hides
  Rect statusAt{};
  std::function<void(int turn)> onServe;
  bool clipboardWorks = true;
  std::optional<PixelBuffer> clipboard;
  std::vector<std::u16string> sizeLabels;  // ShowSizeLabel calls; u"" hides
  Rect sizeLabelAt{};
};

// A dialog on a noisy screen of w x h, initialised and painted once.
struct ScreenFixture {
  ScreenFixture(int w, int h) : view(w, h), original(NoisyBuffer(w, h)) {
    view.Attach(&dlg);
    dlg.OnInitDialog(original);
    view.Invalidate(nullptr);
    view.UpdateNow();
  }
  // A rubber-band drag from a to b in the selecting phase.
  void Select(Point a, Point b) {
    dlg.OnLButtonDown(a);
    dlg.OnMouseMove(b);
    dlg.OnLButtonUp(b);
    view.UpdateNow();  // the window paints once the release is handled
  }
  // A shape drag with the checked tool through the given points.
  void Drag(Point from, std::initializer_list<Point> through) {
    dlg.OnLButtonDown(from);
    for (Point p : through) {
      dlg.OnMouseMove(p);
      view.UpdateNow();
    }
    dlg.OnLButtonUp(through.size() ? *(through.end() - 1) : from);
    view.UpdateNow();
  }

  CScreenDlg dlg{12, 34};
  FakeScreenView view;
  PixelBuffer original;
};

}  // namespace parlex::testing
