// What the capture tests under Wine share: a known pattern on the screen, a
// script of input steps run from a timer while modal loops run, the save
// question answered from that script, and JPEG decoding with GDI+.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/pixel_canvas.h"

namespace parlex::test {

// A topmost window over the whole primary screen painting a grid of
// coloured 40 x 40 cells, none of them near red or white (red is never above
// green or blue).
class PatternWindow {
 public:
  static constexpr int kCell = 40;
  PatternWindow();
  ~PatternWindow();
  PatternWindow(const PatternWindow&) = delete;
  PatternWindow& operator=(const PatternWindow&) = delete;

  HWND Hwnd() const { return hwnd_; }
  // The colour of the screen pixel (x, y).
  static Color At(int x, int y);
  // Whether (x, y) is at least `margin` pixels inside its cell, where JPEG
  // keeps a colour closest to the original.
  static bool InsideCell(int x, int y, int margin);

 private:
  HWND hwnd_ = nullptr;
};

// Steps run one per tick of a timer on a hidden window of the thread, so
// they also run inside the modal loops of the capture and save dialogs. A
// step answers true when done; false runs it again at the next tick (a wait).
// A step is never entered again while it runs. After `limitMs` the script
// gives up: `onTimeout` runs once (to end whatever modal loop runs) and
// TimedOut() tells.
class InputScript {
 public:
  using Step = std::function<bool()>;
  InputScript(std::vector<Step> steps, std::function<void()> onTimeout, DWORD limitMs = 20000);
  ~InputScript();
  InputScript(const InputScript&) = delete;
  InputScript& operator=(const InputScript&) = delete;

  // A step that does something once.
  static Step Do(std::function<void()> action);
  // A step that waits until the condition holds.
  static Step WaitFor(std::function<bool()> condition);
  // A step that waits a number of ticks.
  static Step Pause(int ticks);

  bool Done() const { return next_ >= steps_.size(); }
  bool TimedOut() const { return timedOut_; }
  size_t StepReached() const { return next_; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Tick();

  HWND hwnd_ = nullptr;
  std::vector<Step> steps_;
  std::function<void()> onTimeout_;
  size_t next_ = 0;
  DWORD start_;
  DWORD limitMs_;
  bool running_ = false;
  bool timedOut_ = false;
};

// Mouse messages as the capture window gets them (client coordinates).
void PostPress(HWND window, int x, int y);
void PostMove(HWND window, int x, int y);
void PostRelease(HWND window, int x, int y);
// Characters typed into a window (WM_CHAR).
void PostText(HWND window, std::u16string_view text);
// A click of a dialog's push or radio button, as the mouse gives it.
void PostClick(HWND dialog, int id);

// The capture window (dialog 205) of this thread, if one is shown.
HWND FindCaptureWindow();
// The common save dialog of this process, if one is shown.
HWND FindSaveDialog();
// Types `path` into the save dialog's file name and confirms it.
void AnswerSaveDialog(HWND dialog, const std::u16string& path);

// A decoded image (GDI+); none when the bytes are no image.
std::optional<PixelBuffer> DecodeImage(std::string_view bytes);

// Whether two colours differ by at most `tolerance` in every channel.
bool Near(Color a, Color b, int tolerance);
// A colour clearly redder than any pattern colour (JPEG keeps a thin red
// line only roughly).
bool Reddish(Color c);

// The content of the multipart part named `name` in a raw request; empty
// when there is none.
std::string MultipartPart(std::string_view request, std::string_view name);

}  // namespace parlex::test
