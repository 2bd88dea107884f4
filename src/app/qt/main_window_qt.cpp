#include "app/qt/main_window_qt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QScreen>
#include <QString>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "app/qt/dialog_units.h"
#include "app/shell_texts.h"
#include "platform/qt/resource_images.h"

namespace parlex::app::qt {

namespace {

// Layout of the window in dialog units.
constexpr int32_t kTemplateWidthDlu = 187;
constexpr int32_t kTemplateHeightDlu = 133;

QString FromU16(const char16_t* text) { return QString::fromUtf16(text); }

}  // namespace

MainWindowQt::MainWindowQt(const QUrl& page, QWidget* parent) : QWidget(parent) {
  setWindowTitle(FromU16(kMainWindowTitle));
  // Icon 128 with all its sizes: the window manager picks the title bar's and
  // the task switcher's.
  setWindowIcon(parlex::qt::AppIcon());

  const QSize client = TemplateClientSize();
  resize(client);
  setMinimumSize(client);
  CentreOnScreen();

  view_ = new QWebEngineView(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(view_);

  // The tray icon and its welcome balloon come up here, while the window is
  // still hidden.

  // The page's external scripting object is attached to view_->page() here,
  // before the first load, so the page finds it from its first script on.

  // Every finished load of the page, including the page's own navigations,
  // puts the focus back into it.
  connect(view_, &QWebEngineView::loadFinished, this, [this](bool) { FocusPage(); });
  view_->load(page);
}

MainWindowQt::~MainWindowQt() = default;

QSize MainWindowQt::TemplateClientSize() {
  const QFontMetrics metrics(QApplication::font());
  const DialogBaseUnits base =
      BaseUnitsFromFont(metrics.horizontalAdvance(QString::fromUtf16(kAverageWidthSample)), metrics.height());
  const PixelSize size = DialogUnitsToPixels(kTemplateWidthDlu, kTemplateHeightDlu, base);
  return QSize(size.width, size.height);
}

void MainWindowQt::CentreOnScreen() {
  const QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void MainWindowQt::ShowAndFocus() {
  // show() keeps a minimized window minimized, like the tray's "show".
  show();
  FocusPage();
}

void MainWindowQt::FocusPage() {
  if (isVisible() && !isMinimized()) activateWindow();
  view_->setFocus(Qt::OtherFocusReason);
  view_->page()->runJavaScript(QStringLiteral("window.focus();"));
}

void MainWindowQt::closeEvent(QCloseEvent* event) {
  // Closing hides; the program keeps running behind its tray icon.
  event->ignore();
  hide();
}

}  // namespace parlex::app::qt
