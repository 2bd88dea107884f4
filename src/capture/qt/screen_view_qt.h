// ScreenViewQt: the capture window of the Linux build, the view CScreenDlg's
// logic runs over. A frameless, topmost window covers the whole desktop (every
// monitor) and shows the snapshot; everything it shows is drawn into its image with
// PixelCanvas (the dialog's background and overlay, the editor's frame), the
// toolbar buttons and the text editor are child widgets, and the run is
// modal: a nested event loop until the dialog ends.
//
// All coordinates the dialog sees are device pixels of the desktop, also on
// scaled displays: mouse positions are multiplied by the screen's
// device pixel ratio, widget geometry divided by it.
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QScreen>

#include <array>
#include <iterator>
#include <memory>
#include <optional>

#include "capture/screen_dlg.h"
#include "capture/screen_view.h"

class QButtonGroup;
class QLabel;
class QPushButton;

namespace parlex::qt {

class CaptureWindowQt;
class TextEditorQt;
class TrackHostQt;

class ScreenViewQt : public IScreenView {
 public:
  // The view of `dialog`; the dialog's files and upload seams are the
  // caller's to set.
  explicit ScreenViewQt(CScreenDlg& dialog);
  ~ScreenViewQt() override;
  ScreenViewQt(const ScreenViewQt&) = delete;
  ScreenViewQt& operator=(const ScreenViewQt&) = delete;

  // Grabs the whole desktop, hands it to the dialog, covers the desktop and
  // runs until the dialog ends; the window is gone afterwards. Answers the
  // dialog's result, or kCaptureCancelled when the screen could not be read
  // (the agent has been told).
  int Run();

  // On Wayland, the screen the capture covers: that of the window the agent
  // just used (see GrabDesktopQt).
  void SetWorkScreen(QScreen* screen) { workScreen_ = screen; }

  // While Run runs: the window, for tests that drive it.
  QWidget* Window() const;
  QPushButton* Button(int id) const;
  TextEditorQt* Editor() const;

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

  // While an upload runs: the note the window shows, for tests.
  QLabel* StatusNote() const;
  // While the selection is spanned or tracked: the size note, for tests.
  QLabel* SizeNote() const;

  // For the window: brings the invalid area of the image up to date (the
  // dialog's background and overlay, then the editor's frame).
  void ComposeInvalid();

 private:
  static constexpr size_t kButtonCount = std::size(kToolbarButtons);
  QPushButton* FindButton(int id) const;
  void CreateButtons();
  // The editor's frame: its rectangle grown by 1 pixel.
  Rect EditorFrame() const;

  CScreenDlg& dialog_;
  QPointer<QScreen> workScreen_;
  QPointer<CaptureWindowQt> window_;
  std::unique_ptr<TrackHostQt> trackHost_;
  std::array<QPointer<QPushButton>, kButtonCount> buttons_{};
  QButtonGroup* tools_ = nullptr;
  QPointer<TextEditorQt> editor_;
  QPointer<QLabel> status_;
  QPointer<QLabel> sizeNote_;
  Rect editorRect_{};
  Region invalid_;
  std::unique_ptr<PixelCanvas> dragCanvas_;
  QEventLoop loop_;
  bool ended_ = false;
  int result_ = kCaptureCancelled;
};

}  // namespace parlex::qt
