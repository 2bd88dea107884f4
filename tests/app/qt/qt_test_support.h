// Helpers for tests that run Qt windows in the test process.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <functional>
#include <optional>
#include <ostream>

#include "support/loopback_server.h"

class QWebEnginePage;

namespace parlex::testing {

// Runs the event loop until `done` answers true or `timeoutMs` has passed;
// answers the last value of `done`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// Runs `script` in the page's main world and waits for its result.
std::optional<QVariant> EvalInPage(QWebEnginePage* page, const QString& script, int timeoutMs = 5000);

// The suites' loopback server (support/loopback_server.h) serving fixed HTML
// documents by path (404 otherwise), with Qt-typed addresses. It answers
// from its own thread, so pages load whatever the event loop is doing.
class LoopbackHttpServer {
 public:
  LoopbackHttpServer() : listening_(server_.Start()) {}

  bool listening() const { return listening_; }
  void Serve(const QString& path, const QByteArray& html);
  QUrl Url(const QString& path) const;
  // Paths requested so far, in order.
  QStringList requests();

 private:
  test::LoopbackServer server_;
  bool listening_;
};

}  // namespace parlex::testing

// Readable values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QSize& size, std::ostream* os) { *os << size.width() << "x" << size.height(); }
inline void PrintTo(const QRect& rect, std::ostream* os) {
  *os << "(" << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height() << ")";
}
