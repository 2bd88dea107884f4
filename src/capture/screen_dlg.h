// CScreenDlg: the logic of the full-screen capture dialog. The agent spans a
// selection over the frozen desktop, moves and resizes it with the tracker,
// marks it (red arrow, ellipse, rectangle, pen and text; mosaic over what must
// not be seen), undoes and redoes marks, and copies, saves or sends it.
// Everything here is platform-free: the window, its buttons and editor are
// reached through IScreenView, files through ICaptureFiles, the upload
// through GenericHTTPClient over a Transport, and drawing through Canvas.
//
// The platform half (ScreenViewWin32, ScreenViewQt) creates the window, grabs
// the whole desktop into a PixelBuffer and hands it with the monitors' areas
// to OnInitDialog, then
// turns its messages into the On... calls below and paints with
// ComposeBackground + PaintOverlay. After the modal run the caller reads
// m_bSent, m_szReply and m_szKeptFile.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/annotation_history.h"
#include "capture/ax_tracker.h"
#include "capture/canvas.h"
#include "capture/capture_report.h"
#include "capture/geometry.h"
#include "capture/pixel_canvas.h"
#include "capture/screen_view.h"
#include "http/http_seams.h"

namespace parlex {

// The arrowhead of the arrow tool.
struct ArrowHead {
  int32_t width = 8;   // full width of the head's base, pixels
  float angle = 0.6f;  // radians; the base lies width / tan(angle) behind the tip
};

// The annotation tool in force, read from the buttons' check state in the
// order arrow, ellipse, rectangle, text, pen, mosaic.
enum class CaptureTool : uint8_t { kNone, kArrow, kEllipse, kRectangle, kText, kPen, kMosaic };

// The toolbar from left to right: each button a cell of 50 x 30.
inline constexpr int kToolbarButtons[] = {kBtnRectangle, kBtnEllipse, kBtnArrow, kBtnPen,  kBtnMosaic,
                                          kBtnText,      kBtnUndo,    kBtnCopy,  kBtnSave, kBtnSend};
inline constexpr bool IsToolButton(int id) {
  return id == kBtnArrow || id == kBtnEllipse || id == kBtnRectangle || id == kBtnText || id == kBtnPen ||
         id == kBtnMosaic;
}
// A button's label, and its tooltip (the label with its shortcut).
std::u16string_view ButtonLabel(int id);
std::u16string ButtonTooltip(int id);

// Mosaic blocks are this many device pixels square.
inline constexpr int32_t kMosaicBlock = 10;
// Covers `area` of pixels with blocks of kMosaicBlock, laid from the area's
// top-left, each filled with the average of its whole block (a block that
// reaches past the area is averaged over all of it, as far as the picture
// goes, so no pixel of the area keeps its own value); only pixels inside
// both `area` and `clip` are drawn, on dc.
void DrawMosaic(Canvas& dc, const PixelBuffer& pixels, const Rect& area, const Rect& clip);

// The commands of the capture's shortcuts.
enum class CaptureCommand : uint8_t { kNone, kUndo, kRedo, kCopy, kSave };
// Ctrl+Z undo, Ctrl+Y and Ctrl+Shift+Z redo, Ctrl+C copy, Ctrl+S save; key is
// the upper-case letter (the virtual-key code of Windows and Qt's key code).
CaptureCommand ShortcutCommand(uint32_t key, bool ctrl, bool shift, bool alt);

// "400 × 300": a selection's size in device pixels.
std::u16string SizeText(const Rect& selection);

// A channel of the snapshot as the dimmed area shows it: grey 127 blended
// over it at opacity 127 of 255, (127 x 127 + d x 128) / 255.
constexpr uint8_t DimChannel(uint8_t d) { return static_cast<uint8_t>((127 * 127 + d * 128) / 255); }

// The first encoder with a pattern whose extension equals the path's
// extension (from the last '.' of its file name, compared without regard to
// ASCII case); none when no encoder matches or the file name has no
// extension.
std::optional<size_t> ChooseEncoder(std::u16string_view path, const std::vector<ImageEncoderInfo>& encoders);

// "Ostrel截屏未发送 <yyyy-MM-dd HHmmss>.jpg": the name a capture that could
// not be sent is kept under.
std::u16string UnsentCaptureName(const LocalTime& time);

// The chat service's image endpoint: PARLEX_CHAT_URL + "resource/staff/image".
std::u16string DefaultUploadUrl();

// What the capture window shows while an upload runs.
inline constexpr char16_t kSendingText[] = u"正在发送…";
// The balloon that tells the agent where a capture that was not sent went.
inline constexpr char16_t kUnsentNoticeTitle[] = u"截屏未发送";
std::u16string UnsentNoticeText(std::u16string_view keptPath);

class CScreenDlg : public IAxTrackerEvents {
 public:
  // Capacity of m_szReply in UTF-16 units, terminator included.
  static constexpr size_t kReplyUnits = 1024;
  // Text read from the editor for measuring.
  static constexpr size_t kEditorTextUnits = 1023;

  CScreenDlg(int32_t companyId, int32_t visitorId);
  ~CScreenDlg() override;
  CScreenDlg(const CScreenDlg&) = delete;
  CScreenDlg& operator=(const CScreenDlg&) = delete;

  // --- Seams, set before OnInitDialog. Without HTTP seams nothing can be
  // sent (a send keeps the capture as an unreachable server would); without
  // an upload URL, DefaultUploadUrl().
  void SetView(IScreenView* view) { m_view = view; }
  void SetFiles(ICaptureFiles* files) { m_files = files; }
  void SetHttpSeams(HttpSeams seams) { m_http = std::move(seams); }
  void SetUploadUrl(std::u16string url) { m_uploadUrl = std::move(url); }
  // The bound of a whole upload (connect, send and reply), from the click
  // on the send button; tests shorten it.
  void SetUploadBound(std::chrono::milliseconds bound) { m_uploadBound = bound; }

  // The dialog ends before its view: the view lets go of it here (a drag
  // still held is given up first), and the dialog never reaches the view
  // again.
  void Detach();

  // --- Events from the platform.
  // The dialog's initialisation with the snapshot of the whole desktop (its
  // size is the desktop's bounding box) and the monitors in it (none: one
  // monitor as large as the snapshot): the dimmed copy is made, the tracker
  // gets its owner and style 0x37FC.
  void OnInitDialog(PixelBuffer snapshot, std::vector<MonitorArea> monitors = {});
  // The pixels the window shows under `area` before the overlay: the
  // snapshot inside the selection, its dimmed copy outside. Written into a
  // frame of the screen's size at `frame` (pixel (0, 0)), rows `stride`
  // pixels apart, top byte 0xFF; only `area` (clipped to the screen) is
  // touched. Cost follows the area.
  void ComposeBackground(const Rect& area, uint32_t* frame, int stride) const;
  // What is drawn over the background at each paint: during a shape drag
  // the shape for the current drag, then the tracker, both on the drag
  // canvas held since the press (on dc when the view gave none); otherwise
  // the tracker on dc, once a selection is being made or placed (before
  // the first press the screen shows no handles).
  void PaintOverlay(Canvas& dc);
  // WM_SETCURSOR with the hit-test code (1 = client area): true when the
  // tracker set a cursor.
  bool OnSetCursor(uint32_t hitTestCode);
  void OnLButtonDown(Point p);
  void OnMouseMove(Point p);
  void OnLButtonUp(Point p);
  // EN_CHANGE of the editor.
  void GrowTextEditor();
  // EN_KILLFOCUS of the editor.
  void CommitText();
  // Buttons 1012 and 1013, and IDCANCEL. While an upload runs, the cancel
  // command cancels the upload (the capture is then kept, as for any upload
  // that failed) and every other input waits.
  void OnSave();
  void OnSend();
  void OnCancel();
  // Button 1011 and Ctrl+C: the selection with its marks to the clipboard,
  // and the capture ends as a save does. A refused clipboard keeps it open.
  void OnCopy();
  // Button 1010 and Ctrl+Z; Ctrl+Y and Ctrl+Shift+Z. Once every annotation
  // is undone the selection may be moved and sized again.
  void OnUndo();
  void OnRedo();
  // A key pressed on the capture window (not in the editor): true when it
  // was one of the shortcuts.
  bool OnKeyDown(uint32_t key, bool ctrl, bool shift, bool alt);
  bool IsSending() const { return m_bSending; }

  // --- IAxTrackerEvents.
  void OnTracking(Rect* proposed, int32_t hit, const Rect* previous, bool xDir, bool yDir, int32_t extX,
                  int32_t extY, CAxTracker::ITrackLines* lines) override;
  void GetRect(Rect* out) override;
  void OnTrackEnd(const Rect* final) override;
  void OnDrawTracking(Canvas* dc, const Rect* rect) override;

  // --- Operations, public for the platform halves and the tests.
  Rect DragBounds() const;
  CaptureTool ToolInForce() const;
  // Draws the current drag's shape with the checked tool on dc, clipped to
  // the selection's interior (the clip stays set on dc).
  void DrawShape(Canvas& dc);
  // A line from dc's current position to tip with a head at tip.
  static void DrawArrow(Canvas& dc, Point tip, const ArrowHead& head);
  // Encodes the selected part of the snapshot by the path's extension;
  // none when the selection is empty or no encoder fits.
  std::optional<std::string> EncodeSelection(std::u16string_view path);
  // The selected part of the snapshot.
  PixelBuffer SelectionPixels() const;
  const PixelBuffer& Snapshot() const { return m_snapshot; }
  const PixelBuffer& Dimmed() const { return m_dimmed; }
  CAxTracker& Tracker() { return m_tracker; }
  const AnnotationHistory& History() const { return m_history; }
  const std::vector<MonitorArea>& Monitors() const { return m_monitors; }
  // The monitor holding p, else the one nearest to it.
  const MonitorArea& MonitorAt(Point p) const;
  // Where the toolbar goes for a selection, and where the size note.
  Rect ToolbarArea(const Rect& rect) const;
  Rect SizeLabelArea(const Rect& selection) const;

  // --- Fields.
  int32_t m_cxScreen = 0;
  int32_t m_cyScreen = 0;
  PixelBuffer m_snapshot{0, 0};
  PixelBuffer m_dimmed{0, 0};
  Rect m_rcSelection{};
  CAxTracker m_tracker;
  Point m_ptStart{};
  Point m_ptEnd{};
  bool m_bDrawing = false;
  bool m_bTextOpen = false;
  bool m_bAnnotated = false;
  Canvas* m_dragCanvas = nullptr;
  bool m_bPlaced = false;
  bool m_bSelecting = false;
  int32_t m_companyId = 0;
  int32_t m_visitorId = 0;
  bool m_bSent = false;
  std::u16string m_szReply;  // at most kReplyUnits - 1 units
  // Where the picture of a send that failed or was cancelled was kept;
  // empty otherwise.
  std::u16string m_szKeptFile;
  int m_nResult = -1;              // the modal result once ended
  std::vector<Point> m_penPoints;  // the pen's line of the current drag
  AnnotationHistory m_history;
  std::vector<MonitorArea> m_monitors;
  // How the capture ended, for the support log.
  CaptureReport m_report;

 private:
  // The press tail of both drags: the drag canvas and the mouse capture.
  void BeginDrag();
  void EndDrag();
  // A selecting or shape drag cut short by the end of the dialog: what it
  // holds is given back and nothing is committed.
  void AbandonDrag();
  // Makes newSelection the selection and repaints what changed on the
  // screen: the tracker's area before and after, less the part of the
  // interior that shows the undimmed snapshot both times.
  void ChangeSelection(const Rect& newSelection, bool updateNow);
  // The rectangle the tracker's Draw leaves behind for a selection (the
  // outer rectangle holding the frame and the handles).
  Rect TrackerOuter(const Rect& selection) const;
  // The buttons in their 50 x 30 cells beside the selection, shown.
  void PlaceToolbar(const Rect& rect);
  void HideToolbar();
  void ShowSize();
  void HideSize();
  // What a shape drag may touch: the area its commit is recorded over.
  Rect ShapeArea() const;
  // Undo and redo are for a capture at rest: no drag, no open editor, no
  // upload.
  bool AtRest() const;
  void AfterHistoryStep(const std::optional<Rect>& changed);
  // The undo button is greyed out while there is nothing to undo.
  void UpdateUndoButton();
  // Brings the dimmed copy up to date with the snapshot inside area.
  void RefreshDimmed(const Rect& area);
  void ShapeMove(Point p);
  void ShapeRelease();
  void TextPress(Point p);
  // The screen part of the selection; empty when it has no width or height.
  Rect SelectedArea() const;
  void End(int result);
  // Uploads the file at path while the window goes on serving the agent;
  // true when the server answered with a reply (then in m_szReply).
  bool Upload(const std::u16string& path);
  // A capture that was not sent, kept where the agent finds it and where
  // no later send removes it: the JPEG when there is one, else the picture
  // in a format the platform can still write.
  void KeepUnsent(const std::optional<std::string>& jpeg, const std::u16string& tempPath);
  bool KeepIn(const std::u16string& folder, std::u16string_view stem, std::u16string_view extension,
              const std::string& bytes, const std::u16string& tempPath);

  IScreenView* m_view = nullptr;
  ICaptureFiles* m_files = nullptr;
  HttpSeams m_http;
  std::u16string m_uploadUrl;
  std::chrono::milliseconds m_uploadBound{60000};
  bool m_bSending = false;
  bool m_bSendCancelled = false;
};

}  // namespace parlex
