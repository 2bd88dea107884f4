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
#include "app/qt/tray_icon_qt.h"
#include "app/shell_texts.h"
#include "capture/screen_dlg.h"
#include "parlex_config.h"
#include "platform/qt/resource_images.h"

namespace parlex::app::qt {

namespace {

// Layout of the window in dialog units.
constexpr int32_t kTemplateWidthDlu = 187;
constexpr int32_t kTemplateHeightDlu = 133;

QString FromU16(const char16_t* text) { return QString::fromUtf16(text); }

}  // namespace

QString ConfiguredChatBaseUrl() { return QString::fromUtf16(PARLEX_CHAT_URL); }

MainWindowQt::MainWindowQt(const QUrl& page, const QString& chatBaseUrl, QWidget* parent)
    : QWidget(parent), chatBaseUrl_(chatBaseUrl) {
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

  // The tray icon and its welcome balloon come up while the window is
  // still hidden.
  tray_ = new TrayIconQt(this);
  connect(tray_, &TrayIconQt::showRequested, this, &MainWindowQt::ShowAndFocus);
  connect(tray_, &TrayIconQt::exitRequested, this, [this] { Leave(kExitFromTrayMenu); });
  tray_->Show();
  tray_->Balloon(kWelcomeTitle, kWelcomeText);

  // The page with the external object, before the first load, so the page
  // finds the object from its first script on.
  view_->setPage(new ChatPageQt(*this, chatBaseUrl, view_));

  // Every finished load of the page, including the page's own navigations,
  // puts the focus back into it, inside the window: a navigation never
  // pulls the window in front of the program the agent is working in.
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
  if (!isMinimized()) {
    raise();
    activateWindow();
  }
  FocusPage();
}

void MainWindowQt::FocusPage() {
  view_->setFocus(Qt::OtherFocusReason);
  view_->page()->runJavaScript(QStringLiteral("window.focus();"));
}

void MainWindowQt::Maximize() { showMaximized(); }

void MainWindowQt::Notify(const std::u16string& title, const std::u16string& text) {
  if (tray_ != nullptr) tray_->Balloon(title, text);
}

void MainWindowQt::Quit() { Leave(kExitNormal); }

void MainWindowQt::Leave(int exitCode) {
  if (capturing_) {
    // The first way out asked for is the one taken.
    if (!pendingExit_) pendingExit_ = exitCode;
    if (capture_ != nullptr) capture_->OnCancel();
    return;
  }
  if (tray_ != nullptr) tray_->Remove();
  // The window object itself belongs to the run procedure, which destroys it
  // once the event loop has ended; this call may come from inside the
  // page's own script.
  hide();
  QCoreApplication::exit(exitCode);
}

void MainWindowQt::closeEvent(QCloseEvent* event) {
  // Closing hides; the program keeps running behind its tray icon. Without
  // a notification area there would be no way back to a hidden window, so
  // it is minimized instead.
  event->ignore();
  if (TrayIconQt::DesktopHasTray()) {
    hide();
  } else {
    showMinimized();
  }
}

}  // namespace parlex::app::qt
