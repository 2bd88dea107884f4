// ScreenViewWin32: the capture window on Windows. Dialog 205 runs modally as
// a topmost window over the whole virtual desktop (every monitor); its messages become calls on
// CScreenDlg, and CScreenDlg's requests (buttons, repaints, the mouse
// capture, the text editor, the save question, the encoders) become USER,
// GDI and GDI+ calls here.
//
// Painting: the core composes the frozen background (the snapshot inside the
// selection, its dimmed copy outside) into a screen-sized DIB section for the
// invalid rectangles only; the overlay (shape preview, tracker) is drawn on
// top of it through a GdiCanvas and the result goes to the screen in one
// blit, so nothing flickers and the erase step has nothing to do.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "capture/screen_dlg.h"
#include "capture/screen_view.h"
#include "capture/win32/dib_section_win32.h"
#include "capture/win32/gdi_canvas.h"
#include "capture/win32/track_host_win32.h"
#include "platform/win32/dialog_base.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::win32 {

class ScreenViewWin32 final : public IScreenView, public CDialogBase {
 public:
  // The view of `dialog`, which it becomes the view of (SetView).
  explicit ScreenViewWin32(CScreenDlg& dialog);
  ~ScreenViewWin32() override;

  // Runs the capture window modally, owned by `owner` (may be null): the
  // dialog's result (kCaptureDone, kCaptureCancelled), or -1 when the window
  // could not be created.
  int RunModal(HWND owner);

  // The text editor while one exists (tests type into it).
  HWND EditorWindow() const { return editor_; }

  // IScreenView
  ITrackHost& TrackHost() override;
  void ShowButton(int id, bool show) override;
  void MoveButton(int id, const Rect& cell) override;
  bool IsButtonChecked(int id) override;
  void UncheckButton(int id) override;
  void EnableButton(int id, bool enable) override;
  void Invalidate(const Region* region) override;
  void InvalidateRect(const Rect& rect) override;
  void UpdateNow() override;
  void CaptureMouse() override;
  void ReleaseMouse() override;
  Canvas* AcquireDragCanvas() override;
  void ReleaseDragCanvas(Canvas* canvas) override;
  bool CreateEditor(Point at) override;
  bool HasEditor() override;
  EditorMetrics EditorTextMetrics() override;
  int32_t EditorTextWidth(std::u16string_view line) override;
  Rect EditorRect() override;
  void MoveEditor(const Rect& rect) override;
  void FocusEditor() override;
  std::u16string EditorText(size_t maxUnits) override;
  int32_t EditorLineCount() override;
  bool RenderEditor(PixelBuffer* out) override;
  void DestroyEditor() override;
  void FocusWindow() override;
  std::optional<std::u16string> AskSavePath() override;
  std::vector<ImageEncoderInfo> ImageEncoders() override;
  std::optional<std::string> EncodeImage(size_t index, const PixelBuffer& image) override;
  bool CopyImage(const PixelBuffer& image) override;
  void EndDialog(int result) override;
  void ShowSizeLabel(const Rect& where, std::u16string_view text) override;
  void ShowStatus(const Rect& where, std::u16string_view text) override;
  void ServeWhile(const std::function<bool()>& busy) override;

  // While an upload runs: the note the window shows (tests read it).
  HWND StatusWindow() const { return status_; }
  // While the selection is spanned or tracked: the size note.
  HWND SizeNoteWindow() const { return sizeNote_; }

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnPaint(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnSetCursor(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnMouse(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnCtlColorEdit(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnCommand(UINT, WPARAM, LPARAM, bool&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&);

  void PaintMinimized(HDC dc);
  // A STATIC note over the frozen screen (created on first use); empty text
  // hides it.
  void ShowNote(HWND& note, const Rect& where, std::u16string_view text);
  void AddTooltips();
  // The capture's shortcuts: the dialog manager's loop hands keys to the
  // focused control, so a message filter of the thread sees them first.
  static LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam);
  // The editor's font selected into a DC for measuring.
  HFONT EditorFont() const;

  CScreenDlg& dialog_;
  std::optional<TrackerWindowWin32> trackHost_;
  std::unique_ptr<DibSection> backBuffer_;  // what the window shows, screen-sized
  ScopedIcon icon_;
  ScopedGdiObject<HBRUSH> editBrush_;
  HWND editor_ = nullptr;
  HWND status_ = nullptr;    // a child: destroyed with the window
  HWND sizeNote_ = nullptr;  // a child too
  HWND tooltips_ = nullptr;  // owned by the window: destroyed with it
  HHOOK keyFilter_ = nullptr;
  // The window DC held from a press to its release, and its canvas.
  HDC dragDc_ = nullptr;
  std::optional<GdiCanvas> dragCanvas_;
};

}  // namespace parlex::win32
