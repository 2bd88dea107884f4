#include "capture/qt/screen_view_qt.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "capture/qt/capture_surface_qt.h"
#include "capture/qt/image_encoders_qt.h"
#include "capture/qt/save_dialog_qt.h"
#include "capture/qt/screen_grab_qt.h"
#include "capture/qt/text_editor_qt.h"
#include "capture/qt/track_host_qt.h"
#include "platform/qt/resource_images.h"

namespace parlex::qt {

// The window itself: turns its events into the dialog's calls and shows the
// image the view composes.
class CaptureWindowQt : public CaptureSurfaceQt {
 public:
  CaptureWindowQt(ScreenViewQt& view, CScreenDlg& dialog)
      : CaptureSurfaceQt(1, 1), view_(view), dialog_(dialog) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowModality(Qt::ApplicationModal);
    setMouseTracking(true);
    // Clicks on the window leave the keyboard focus where it is, as on a
    // dialog's client area: an open editor stays open.
    setFocusPolicy(Qt::NoFocus);
  }

  // The tracker's host hears where the pointer was last seen.
  void SetHost(TrackHostQt* host) { host_ = host; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    view_.ComposeInvalid();
    CaptureSurfaceQt::paintEvent(event);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    dialog_.OnLButtonDown(At(e));
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const Point p = At(e);
    if (e->buttons() == Qt::NoButton && !dialog_.OnSetCursor(1)) ShowDefaultCursor(this);
    dialog_.OnMouseMove(p);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    dialog_.OnLButtonUp(At(e));
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape) {
      dialog_.OnCancel();
      return;
    }
    // Qt's codes of the letters are their upper-case ASCII codes.
    const Qt::KeyboardModifiers m = e->modifiers();
    if (e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z &&
        dialog_.OnKeyDown(static_cast<uint32_t>(e->key()), m & Qt::ControlModifier, m & Qt::ShiftModifier,
                          m & Qt::AltModifier))
      return;
    CaptureSurfaceQt::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    // The close request is the cancel command; the view ends the window.
    e->ignore();
    dialog_.OnCancel();
  }

 private:
  Point At(QMouseEvent* e) {
    const Point p = ToImage(e->position());
    if (host_) host_->SetCursorPosHint(QPoint(p.x, p.y));
    return p;
  }

  ScreenViewQt& view_;
  CScreenDlg& dialog_;
  TrackHostQt* host_ = nullptr;
};

namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// A note over the frozen screen: black on white, centred.
QLabel* MakeNote(QWidget* parent) {
  auto* note = new QLabel(parent);
  note->setAlignment(Qt::AlignCenter);
  note->setAutoFillBackground(true);
  QPalette palette = note->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, Qt::black);
  note->setPalette(palette);
  return note;
}

}  // namespace

ScreenViewQt::ScreenViewQt(CScreenDlg& dialog) : dialog_(dialog) {}

ScreenViewQt::~ScreenViewQt() {
  // The dialog may live on after its view (the capture call keeps it for
  // its results): it must not reach back into this one.
  dialog_.Detach();
  dragCanvas_.reset();
  trackHost_.reset();
  delete window_.data();
}

QWidget* ScreenViewQt::Window() const { return window_.data(); }

QPushButton* ScreenViewQt::Button(int id) const { return FindButton(id); }

TextEditorQt* ScreenViewQt::Editor() const { return editor_.data(); }

QLabel* ScreenViewQt::StatusNote() const { return status_.data(); }

QLabel* ScreenViewQt::SizeNote() const { return sizeNote_.data(); }

QPushButton* ScreenViewQt::FindButton(int id) const {
  for (size_t i = 0; i < kButtonCount; ++i)
    if (kToolbarButtons[i] == id) return buttons_[i].data();
  return nullptr;
}

int ScreenViewQt::Run() {
  std::optional<ScreenSnapshotQt> shot = GrabDesktopQt(workScreen_.data());
  if (!shot) {
    TellGrabFailedQt(nullptr);
    return kCaptureCancelled;
  }
  auto* window = new CaptureWindowQt(*this, dialog_);
  window_ = window;
  window->setWindowIcon(AppIcon());
  const int width = shot->pixels.Width();
  const int height = shot->pixels.Height();
  // The window's image is composed in full below, before the window shows.
  window->SetImage(CaptureSurfaceQt::BlankImage(width, height), shot->ratio);
  trackHost_ = std::make_unique<TrackHostQt>(window);
  window->SetHost(trackHost_.get());
  CreateButtons();

  InitTrackerQt(dialog_.Tracker());
  dialog_.SetView(this);
  dialog_.OnInitDialog(std::move(shot->pixels), std::move(shot->monitors));
  Invalidate(nullptr);
  ComposeInvalid();

  window->createWinId();
  if (QWindow* handle = window->windowHandle()) handle->setScreen(shot->screen);
  window->setGeometry(shot->geometry);
  if (shot->single)
    window->showFullScreen();
  else
    window->show();  // over every monitor: no one screen to fill
  window->raise();
  window->activateWindow();
  if (!ended_) loop_.exec();

  // The window goes before the caller shows its own again.
  dialog_.Detach();
  if (editor_) editor_->onFocusLost = nullptr;
  dragCanvas_.reset();
  window->SetHost(nullptr);
  trackHost_.reset();
  window->hide();
  delete window;
  return result_;
}

void ScreenViewQt::CreateButtons() {
  tools_ = new QButtonGroup(window_);
  tools_->setExclusive(true);
  for (size_t i = 0; i < kButtonCount; ++i) {
    const int id = kToolbarButtons[i];
    auto* button = new QPushButton(ToQString(ButtonLabel(id)), window_);
    button->setToolTip(ToQString(ButtonTooltip(id)));
    button->hide();
    if (IsToolButton(id)) {
      button->setCheckable(true);
      tools_->addButton(button, id);
    } else {
      QObject::connect(button, &QPushButton::clicked, window_, [this, id] {
        switch (id) {
          case kBtnSave:
            dialog_.OnSave();
            break;
          case kBtnSend:
            dialog_.OnSend();
            break;
          case kBtnUndo:
            dialog_.OnUndo();
            break;
          default:
            dialog_.OnCopy();
            break;
        }
      });
    }
    buttons_[i] = button;
  }
}

ITrackHost& ScreenViewQt::TrackHost() { return *trackHost_; }

void ScreenViewQt::ShowButton(int id, bool show) {
  if (QPushButton* b = FindButton(id)) b->setVisible(show);
}

void ScreenViewQt::MoveButton(int id, const Rect& cell) {
  if (QPushButton* b = FindButton(id)) b->setGeometry(window_->ToWidget(cell));
}

bool ScreenViewQt::IsButtonChecked(int id) {
  QPushButton* b = FindButton(id);
  return b && b->isChecked();
}

void ScreenViewQt::UncheckButton(int id) {
  QPushButton* b = FindButton(id);
  if (!b) return;
  // An exclusive group keeps one button checked; unchecking is the
  // dialog's own step, outside the group's rule.
  tools_->setExclusive(false);
  b->setChecked(false);
  tools_->setExclusive(true);
  b->repaint();
}

void ScreenViewQt::EnableButton(int id, bool enable) {
  if (QPushButton* b = FindButton(id)) b->setEnabled(enable);
}

void ScreenViewQt::Invalidate(const Region* region) {
  if (!window_) return;
  const QImage& image = window_->Image();
  const Region all(Rect{0, 0, image.width(), image.height()});
  if (!region) {
    invalid_ = all;
    window_->update();
    return;
  }
  Region clipped = *region;
  clipped.Intersect(all);
  invalid_.Union(clipped);
  window_->update(window_->ToWidget(clipped));
}

void ScreenViewQt::InvalidateRect(const Rect& rect) {
  const Region region(rect);
  Invalidate(&region);
}

void ScreenViewQt::UpdateNow() {
  if (!window_ || invalid_.IsEmpty()) return;
  const QRegion area = window_->ToWidget(invalid_);
  ComposeInvalid();
  if (window_->isVisible()) window_->repaint(area);
}

void ScreenViewQt::ComposeInvalid() {
  if (!window_ || invalid_.IsEmpty()) return;
  const Region todo = std::move(invalid_);
  invalid_ = Region();
  QImage& image = window_->Image();
  auto* bits = reinterpret_cast<uint32_t*>(image.bits());
  const int stride = static_cast<int>(image.bytesPerLine() / 4);
  for (const Rect& r : todo.Rects()) dialog_.ComposeBackground(r, bits, stride);
  std::unique_ptr<PixelCanvas> canvas = window_->MakeCanvas();
  dialog_.PaintOverlay(*canvas);
  if (editor_) {
    // A grey dash-dot-dot frame just around the editor, on the window: it is
    // never part of what the editor commits.
    auto overlay = window_->MakeCanvas();
    overlay->SelectPen(Pen{PenStyle::kDashDotDot, Rgb(127, 127, 127)});
    overlay->SelectBrush(Brush::Null());
    overlay->SetBackgroundColor(Rgb(255, 255, 255));
    overlay->Rectangle(EditorFrame());
  }
}

void ScreenViewQt::CaptureMouse() {
  if (window_) window_->grabMouse();
}

void ScreenViewQt::ReleaseMouse() {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

Canvas* ScreenViewQt::AcquireDragCanvas() {
  if (!window_) return nullptr;
  dragCanvas_ = window_->MakeCanvas();
  return dragCanvas_.get();
}

void ScreenViewQt::ReleaseDragCanvas(Canvas* canvas) {
  if (canvas != dragCanvas_.get()) return;
  dragCanvas_.reset();
  if (window_) window_->update();
}

bool ScreenViewQt::CreateEditor(Point at) {
  if (!window_ || editor_) return false;
  auto* editor = new TextEditorQt(window_, window_->Ratio());
  editor_ = editor;
  editorRect_ = Rect{at.x, at.y, at.x, at.y};
  editor->setGeometry(window_->ToWidget(editorRect_));
  editor->hide();
  QObject::connect(editor, &QPlainTextEdit::textChanged, editor, [this] { dialog_.GrowTextEditor(); });
  editor->onFocusLost = [this] { dialog_.CommitText(); };
  return true;
}

bool ScreenViewQt::HasEditor() { return editor_ != nullptr; }

EditorMetrics ScreenViewQt::EditorTextMetrics() { return editor_ ? editor_->Metrics() : EditorMetrics{}; }

int32_t ScreenViewQt::EditorTextWidth(std::u16string_view line) {
  return editor_ ? editor_->TextWidth(line) : 0;
}

Rect ScreenViewQt::EditorRect() { return editorRect_; }

Rect ScreenViewQt::EditorFrame() const { return Inflated(editorRect_, 1, 1); }

void ScreenViewQt::MoveEditor(const Rect& rect) {
  if (!editor_) return;
  InvalidateRect(Inflated(EditorFrame(), 1, 1));
  editorRect_ = rect;
  editor_->setGeometry(window_->ToWidget(rect));
  InvalidateRect(Inflated(EditorFrame(), 1, 1));
  editor_->update();
}

void ScreenViewQt::FocusEditor() {
  if (!editor_) return;
  editor_->show();
  editor_->setFocus(Qt::MouseFocusReason);
}

std::u16string ScreenViewQt::EditorText(size_t maxUnits) {
  if (!editor_) return {};
  std::u16string text = editor_->toPlainText().toStdU16String();
  if (text.size() > maxUnits) text.resize(maxUnits);
  return text;
}

int32_t ScreenViewQt::EditorLineCount() { return editor_ ? editor_->LineCount() : 0; }

bool ScreenViewQt::RenderEditor(PixelBuffer* out) {
  if (!editor_) return false;
  return editor_->Render(editorRect_.right - editorRect_.left, editorRect_.bottom - editorRect_.top, out);
}

void ScreenViewQt::DestroyEditor() {
  if (!editor_) return;
  TextEditorQt* editor = editor_;
  editor_ = nullptr;
  InvalidateRect(Inflated(EditorFrame(), 1, 1));
  editor->onFocusLost = nullptr;
  QObject::disconnect(editor, nullptr, nullptr, nullptr);
  editor->hide();
  // This may run inside the editor's own focus-out handler.
  editor->deleteLater();
}

void ScreenViewQt::FocusWindow() {
  if (window_) window_->setFocus(Qt::OtherFocusReason);
}

std::optional<std::u16string> ScreenViewQt::AskSavePath() { return AskSavePathQt(window_); }

std::vector<ImageEncoderInfo> ScreenViewQt::ImageEncoders() { return ImageEncodersQt::Installed().Infos(); }

std::optional<std::string> ScreenViewQt::EncodeImage(size_t index, const PixelBuffer& image) {
  return ImageEncodersQt::Installed().Encode(index, image);
}

bool ScreenViewQt::CopyImage(const PixelBuffer& image) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard || image.Width() <= 0 || image.Height() <= 0) return false;
  // A deep copy: the clipboard serves it for as long as the program runs,
  // long after the capture's pixels are gone.
  const QImage picture(reinterpret_cast<const uchar*>(image.Data()), image.Width(), image.Height(),
                       image.Width() * 4, QImage::Format_RGB32);
  clipboard->setImage(picture.copy(), QClipboard::Clipboard);
  return true;
}

void ScreenViewQt::ShowSizeLabel(const Rect& where, std::u16string_view text) {
  if (!window_) return;
  if (text.empty()) {
    if (sizeNote_) sizeNote_->hide();
    return;
  }
  if (!sizeNote_) {
    sizeNote_ = MakeNote(window_);
    QFont font = sizeNote_->font();
    font.setPixelSize(12);
    sizeNote_->setFont(font);
  }
  sizeNote_->setText(ToQString(text));
  sizeNote_->setGeometry(window_->ToWidget(where));
  sizeNote_->show();
  sizeNote_->raise();
}

void ScreenViewQt::EndDialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  // A tracker drag still running (the window closed or the program leaving
  // under it) ends without commit before the window goes.
  if (trackHost_) trackHost_->Abandon();
  ReleaseMouse();
  // So does a save question still open (the program leaving under it).
  if (window_)
    for (QDialog* question : window_->findChildren<QDialog*>()) question->reject();
  // The screen is free again at once, also while the run unwinds.
  if (window_) window_->hide();
  loop_.exit(0);
}

void ScreenViewQt::ShowStatus(const Rect& where, std::u16string_view text) {
  if (!window_) return;
  if (text.empty()) {
    if (status_) status_->hide();
    return;
  }
  if (!status_) status_ = MakeNote(window_);
  status_->setText(ToQString(text));
  status_->setGeometry(window_->ToWidget(where));
  status_->show();
  status_->raise();
  status_->repaint();
}

void ScreenViewQt::ServeWhile(const std::function<bool()>& busy) {
  std::optional<int> quitCode;
  bool ours = false;
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (busy()) return;
    ours = true;
    loop.exit(0);
  });
  tick.start(50);
  while (busy()) {
    ours = false;
    const int code = loop.exec();
    // Ended, but not by us: QCoreApplication::exit ends every loop of the
    // thread. The capture gives way, and the request is handed on once the
    // wait is over.
    if (!ours && !quitCode) {
      quitCode = code;
      dialog_.OnCancel();
    }
  }
  if (quitCode) {
    const int code = *quitCode;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
  }
}

}  // namespace parlex::qt
