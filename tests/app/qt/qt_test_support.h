// Helpers for tests that run Qt windows in the test process.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>
#include <QVariant>
#include <functional>
#include <optional>
#include <ostream>

class QWebEnginePage;

namespace parlex::testing {

// Runs the event loop until `done` answers true or `timeoutMs` has passed;
// answers the last value of `done`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// Runs `script` in the page's main world and waits for its result.
std::optional<QVariant> EvalInPage(QWebEnginePage* page, const QString& script, int timeoutMs = 5000);

// An HTTP server on 127.0.0.1 at a free port, driven by the Qt event loop.
// Serves fixed HTML documents by path (404 otherwise), one request per
// connection, and stops accepting after a bounded number of connections.
class LoopbackHttpServer {
 public:
  LoopbackHttpServer();
  ~LoopbackHttpServer();

  bool listening() const { return server_.isListening(); }
  void Serve(const QString& path, const QByteArray& html) { pages_[path] = html; }
  QUrl Url(const QString& path) const;
  // Paths requested so far, in order.
  QStringList requests() const { return requests_; }

 private:
  void OnConnection();

  QTcpServer server_;
  QMap<QString, QByteArray> pages_;
  QStringList requests_;
  int connections_ = 0;
};

}  // namespace parlex::testing

// Readable values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QSize& size, std::ostream* os) { *os << size.width() << "x" << size.height(); }
inline void PrintTo(const QRect& rect, std::ostream* os) {
  *os << "(" << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height() << ")";
}
