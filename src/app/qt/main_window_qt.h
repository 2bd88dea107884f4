// The program's one top-level window: the chat service's agent page in a web
// view that fills it. Closing only hides it; the program ends through the
// tray menu or the page.
#pragma once

#include <QSize>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "app/qt/chat_page_qt.h"

class QCloseEvent;
class QWebEngineView;

namespace parlex {
class CScreenDlg;
}

namespace parlex::app::qt {

class TrayIconQt;

// The chat service's base URL the program was built with.
QString ConfiguredChatBaseUrl();

class MainWindowQt : public QWidget, public IChatPageHost {
  Q_OBJECT

 public:
  // Creates the window hidden, puts the tray icon up with its welcome
  // balloon and starts loading `page`. Pages of `chatBaseUrl`'s origin get
  // the external object.
  explicit MainWindowQt(const QUrl& page, const QString& chatBaseUrl = ConfiguredChatBaseUrl(),
                        QWidget* parent = nullptr);
  ~MainWindowQt() override;

  // Shows the window without changing its size or state (a minimized window
  // stays minimized), brings it to the front and focuses the page. Used at
  // start, by the tray icon and its "显示".
  void ShowAndFocus();

  // Gives the page the keyboard focus inside the window: the view takes it
  // and the page's top window is focused, so typing lands in the page once
  // the window is active. Neither shows nor activates the window.
  void FocusPage();

  // The page's operations.
  // Shows the window maximized (a hidden window too).
  void Maximize() override;
  // A balloon on the tray icon.
  void Notify(const std::u16string& title, const std::u16string& text) override;
  // Removes the tray icon, takes the window away and ends the event loop
  // with exit code 0.
  void Quit() override;
  // The screen capture; answers whether an image was sent and the reply.
  // The window steps aside while it runs and is shown again afterwards; the
  // image goes to the chat service the page came from. A capture asked for
  // while one runs is ignored.
  CaptureOutcome Capture(int32_t companyId, int32_t visitorId) override;

  // The tray icon (null only while the window is being destroyed).
  TrayIconQt* trayIcon() const { return tray_; }

  // The web view: the page's host, for attaching the script bridge and for
  // running script in the page.
  QWebEngineView* view() const { return view_; }

  // Client size of the window's layout (187 x 133 dialog units) measured with
  // the application's default font; the window never gets smaller.
  static QSize TemplateClientSize();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CentreOnScreen();
  // Removes the tray icon, then the window goes and the event loop ends
  // with `exitCode`. During a capture the capture ends first, as Esc ends
  // it, and the program leaves once the page's capture call has returned.
  void Leave(int exitCode);

  QWebEngineView* view_ = nullptr;
  TrayIconQt* tray_ = nullptr;
  QString chatBaseUrl_;
  bool capturing_ = false;
  CScreenDlg* capture_ = nullptr;  // the running capture's dialog
  std::optional<int> pendingExit_;
};

}  // namespace parlex::app::qt
