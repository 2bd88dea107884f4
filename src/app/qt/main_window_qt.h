// The program's one top-level window: the chat service's agent page in a web
// view that fills it. Closing only hides it; the program ends through the
// tray menu or the page.
#pragma once

#include <QSize>
#include <QUrl>
#include <QWidget>

class QCloseEvent;
class QWebEngineView;

namespace parlex::app::qt {

class MainWindowQt : public QWidget {
  Q_OBJECT

 public:
  // Creates the window hidden and starts loading `page`.
  explicit MainWindowQt(const QUrl& page, QWidget* parent = nullptr);
  ~MainWindowQt() override;

  // Shows the window without changing its size or state (a minimized window
  // stays minimized), then focuses the page. Used by the tray icon.
  void ShowAndFocus();

  // Gives the page the keyboard focus: the view takes it and the page's top
  // window is focused, so typing lands in the page. Does not show a hidden
  // window.
  void FocusPage();

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

  QWebEngineView* view_ = nullptr;
};

}  // namespace parlex::app::qt
