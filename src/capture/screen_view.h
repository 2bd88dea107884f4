// What the capture dialog's logic (CScreenDlg, screen_dlg.h) needs of its
// platform: the window with its toolbar buttons and its text editor, repaint
// requests, the mouse capture, the save question, the image encoders and the
// clipboard (IScreenView), and the files and clock of the send button
// (ICaptureFiles). Each build implements both over its own toolkit
// (ScreenViewWin32: dialog 205, GDI, an EDIT control, GDI+; ScreenViewQt: a
// frameless full-screen widget, PixelCanvas, a plain-text editor,
// QImageWriter); tests implement them over memory.
//
// All coordinates are client pixels of the capture window, which covers the
// whole desktop (every monitor): device pixels, also on scaled displays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/canvas.h"
#include "capture/geometry.h"
#include "capture/pixel_canvas.h"
#include "capture/region.h"
#include "capture/track_host.h"

namespace parlex {

// Control ids of the toolbar buttons (dialog 205).
inline constexpr int kBtnArrow = 1004;      // "箭头"
inline constexpr int kBtnEllipse = 1005;    // "椭圆"
inline constexpr int kBtnRectangle = 1006;  // "矩形"
inline constexpr int kBtnText = 1007;       // "文字"
inline constexpr int kBtnPen = 1008;        // "画笔"
inline constexpr int kBtnMosaic = 1009;     // "马赛克"
inline constexpr int kBtnUndo = 1010;       // "撤销"
inline constexpr int kBtnCopy = 1011;       // "复制"
inline constexpr int kBtnSave = 1012;       // "保存"
inline constexpr int kBtnSend = 1013;       // "发送"

// Results of the modal run.
inline constexpr int kCaptureDone = 0;       // saved or sent
inline constexpr int kCaptureCancelled = 2;  // IDCANCEL: Esc or the close command

// One monitor in client pixels of the capture window: its whole area and the
// part of it that windows may use (without panels and task bars).
struct MonitorArea {
  Rect bounds;
  Rect work;
};

// The editor font's measurements (GetTextMetricsW).
struct EditorMetrics {
  int32_t height = 0;            // tmHeight
  int32_t externalLeading = 0;   // tmExternalLeading
  int32_t averageCharWidth = 0;  // tmAveCharWidth
};

// One installed image encoder: its file-name patterns as one list separated
// by ';' (for example "*.jpg;*.jpeg;*.jpe;*.jfif").
struct ImageEncoderInfo {
  std::u16string patterns;
};

class IScreenView {
 public:
  virtual ~IScreenView() = default;

  // The tracker's window: cursor position and cursors, and the drag loop.
  virtual ITrackHost& TrackHost() = 0;

  // --- Toolbar buttons, by control id.
  virtual void ShowButton(int id, bool show) = 0;
  // Moves a button to a cell (client pixels).
  virtual void MoveButton(int id, const Rect& cell) = 0;
  virtual bool IsButtonChecked(int id) = 0;
  // Unchecks a button and repaints it at once.
  virtual void UncheckButton(int id) = 0;
  // A button that has nothing to do is greyed out and takes no clicks.
  virtual void EnableButton(int id, bool enable) = 0;

  // --- Repaint requests. Every invalidation also erases (the snapshot is
  // put back first). nullptr: the whole client area.
  virtual void Invalidate(const Region* region) = 0;
  virtual void InvalidateRect(const Rect& rect) = 0;
  // Paints the invalid area now (UpdateWindow).
  virtual void UpdateNow() = 0;

  // --- The mouse capture of the selecting and shape drags, and the window's
  // client-area canvas held from a press to the matching release (GetDC).
  virtual void CaptureMouse() = 0;
  virtual void ReleaseMouse() = 0;
  virtual Canvas* AcquireDragCanvas() = 0;
  virtual void ReleaseDragCanvas(Canvas* canvas) = 0;

  // --- The text editor: at most one, a borderless multi-line editor that
  // wraps at its width, red text on white, the platform's default font.
  // Created at a point with size 0 x 0.
  virtual bool CreateEditor(Point at) = 0;
  virtual bool HasEditor() = 0;
  virtual EditorMetrics EditorTextMetrics() = 0;
  // Width of one line of text in the editor's font (GetTextExtentPoint32W).
  virtual int32_t EditorTextWidth(std::u16string_view line) = 0;
  // The editor's window rectangle in client pixels.
  virtual Rect EditorRect() = 0;
  // Moves and sizes the editor, switches its redrawing on and repaints it.
  virtual void MoveEditor(const Rect& rect) = 0;
  // Gives the editor the keyboard focus and shows it.
  virtual void FocusEditor() = 0;
  // At most maxUnits UTF-16 units of its text.
  virtual std::u16string EditorText(size_t maxUnits) = 0;
  // Lines, wrapped lines included (EM_GETLINECOUNT).
  virtual int32_t EditorLineCount() = 0;
  // The editor's client pixels as shown, without the caret; false when they
  // cannot be had. out arrives white, of the editor's size; the view may
  // replace it (only the part within the editor's rectangle is used).
  virtual bool RenderEditor(PixelBuffer* out) = 0;
  virtual void DestroyEditor() = 0;
  // The keyboard focus to the capture window itself (an open editor loses
  // it, and the platform then reports EN_KILLFOCUS: CScreenDlg::CommitText).
  virtual void FocusWindow() = 0;

  // --- Save and end.
  // The modal save question ("Ostrel截屏未命名", default extension "jpg",
  // the filter "JPEG (*.jpg;*.jpeg)", overwrite confirmation); none when
  // the agent cancels.
  virtual std::optional<std::u16string> AskSavePath() = 0;
  // The installed encoders, in the platform's order.
  virtual std::vector<ImageEncoderInfo> ImageEncoders() = 0;
  // The image encoded by encoder `index` with its default settings; none
  // when it fails.
  virtual std::optional<std::string> EncodeImage(size_t index, const PixelBuffer& image) = 0;
  // Puts the image on the clipboard, where it stays after the capture window
  // has gone (while the program runs); false when the clipboard refused it.
  virtual bool CopyImage(const PixelBuffer& image) = 0;
  // Ends the modal run with a result code. The window leaves the screen at
  // once; a tracker drag still running ends without commit.
  virtual void EndDialog(int result) = 0;

  // --- The selection's size while it is spanned, moved or resized: a small
  // note with text at `where`, above everything else; empty text takes it
  // away. Never part of the picture.
  virtual void ShowSizeLabel(const Rect& where, std::u16string_view text) = 0;

  // --- While an upload runs.
  // A note with text over the frozen screen at `where`; empty text takes it
  // away.
  virtual void ShowStatus(const Rect& where, std::u16string_view text) = 0;
  // Serves the window (paints, input, the cancel command) until busy()
  // answers false, asking it at least every 50 ms. A quit request that
  // arrives meanwhile cancels the capture (OnCancel) and is handed on once
  // the wait is over.
  virtual void ServeWhile(const std::function<bool()>& busy) = 0;
};

// A local date and time, for the names of kept files.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The files of save and send. Paths are the program's UTF-16 text.
class ICaptureFiles {
 public:
  virtual ~ICaptureFiles() = default;
  // The user's temporary folder, ending in a separator; empty when there is
  // none (then nothing is written anywhere relative to the working folder).
  virtual std::u16string TempDirectory() = 0;
  // The user's pictures folder (or, without one, the home folder), ending in
  // a separator; empty when there is none.
  virtual std::u16string PicturesDirectory() = 0;
  // Writes a file the agent chose: created or replaced.
  virtual bool WriteFile(const std::u16string& path, std::string_view bytes) = 0;
  // Writes a new private file: whatever is at path is removed first (made
  // writable when read-only; a link is removed, never followed), then the
  // file is created exclusively, readable by the user only.
  virtual bool WritePrivateFile(const std::u16string& path, std::string_view bytes) = 0;
  // Makes the file writable and deletes it; failures are ignored.
  virtual void RemoveFile(const std::u16string& path) = 0;
  // Moves a file to a new name that must not exist yet.
  virtual bool MoveFile(const std::u16string& from, const std::u16string& to) = 0;
  virtual bool FileExists(const std::u16string& path) = 0;
  virtual LocalTime Now() = 0;
};

}  // namespace parlex
