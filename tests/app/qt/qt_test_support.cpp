#include "qt_test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QWebEnginePage>
#include <memory>
#include <string>

namespace parlex::testing {

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

std::optional<QVariant> EvalInPage(QWebEnginePage* page, const QString& script, int timeoutMs) {
  auto result = std::make_shared<std::optional<QVariant>>();
  page->runJavaScript(script, [result](const QVariant& value) { *result = value; });
  WaitUntil([&] { return result->has_value(); }, timeoutMs);
  return *result;
}

void LoopbackHttpServer::Serve(const QString& path, const QByteArray& html) {
  test::ScriptedReply page;
  page.head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
              std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n";
  page.body = html.toStdString();
  server_.Route(path.toStdString(), page);
}

QUrl LoopbackHttpServer::Url(const QString& path) const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.Port()).arg(path));
}

QStringList LoopbackHttpServer::requests() {
  QStringList paths;
  for (const std::string& head : server_.Requests()) {
    const QList<QByteArray> line = QByteArray::fromStdString(head.substr(0, head.find("\r\n"))).split(' ');
    paths.append(line.size() >= 2 ? QString::fromLatin1(line[1]) : QString());
  }
  return paths;
}

}  // namespace parlex::testing
