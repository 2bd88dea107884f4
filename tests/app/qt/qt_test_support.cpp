#include "qt_test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QWebEnginePage>
#include <memory>

namespace parlex::testing {

namespace {
constexpr int kMaxConnections = 200;
constexpr int kMaxRequestBytes = 64 * 1024;
}  // namespace

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

LoopbackHttpServer::LoopbackHttpServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  QObject::connect(&server_, &QTcpServer::newConnection, [this] { OnConnection(); });
}

LoopbackHttpServer::~LoopbackHttpServer() { server_.close(); }

QUrl LoopbackHttpServer::Url(const QString& path) const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
}

void LoopbackHttpServer::OnConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    socket->setParent(&server_);
    if (++connections_ >= kMaxConnections) server_.pauseAccepting();
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
      QByteArray request = socket->property("request").toByteArray() + socket->readAll();
      if (request.size() > kMaxRequestBytes) {
        socket->abort();
        return;
      }
      socket->setProperty("request", request);
      if (!request.contains("\r\n\r\n")) return;
      const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
      const QString path = line.size() >= 2 ? QString::fromLatin1(line[1]) : QString();
      requests_.append(path);
      QByteArray reply;
      if (pages_.contains(path)) {
        const QByteArray& body = pages_[path];
        reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      } else {
        reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      }
      socket->write(reply);
      socket->disconnectFromHost();
    });
  }
}

}  // namespace parlex::testing
