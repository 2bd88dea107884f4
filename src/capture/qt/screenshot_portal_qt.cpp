#include "capture/qt/screenshot_portal_qt.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace parlex::qt {
namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kInterface[] = "org.freedesktop.portal.Screenshot";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";

// Receives the request's Response signal and ends the wait.
class PortalResponse : public QObject {
  Q_OBJECT

 public:
  explicit PortalResponse(QEventLoop& loop) : loop_(loop) {}
  bool answered = false;
  uint code = 2;
  QVariantMap results;

 public slots:
  void Response(uint response, const QVariantMap& values) {
    answered = true;
    code = response;
    results = values;
    loop_.exit(0);
  }

 private:
  QEventLoop& loop_;
};

}  // namespace

QImage ScreenshotThroughPortalQt(int timeoutMs) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return {};
  // The request's object path is known before the call (from the token and
  // our name on the bus), so the answer cannot come before we listen.
  const QString token = QStringLiteral("parlex%1").arg(QRandomGenerator::global()->generate());
  QString sender = bus.baseService().mid(1);
  sender.replace(u'.', u'_');
  QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);

  QEventLoop loop;
  PortalResponse response(loop);
  auto listen = [&](const QString& path) {
    return bus.connect(QString::fromLatin1(kService), path, QString::fromLatin1(kRequestInterface),
                       QStringLiteral("Response"), &response, SLOT(Response(uint, QVariantMap)));
  };
  if (!listen(handle)) return {};

  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
  deadline.start(timeoutMs);

  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                     QString::fromLatin1(kInterface), QStringLiteral("Screenshot"));
  QVariantMap options;
  options.insert(QStringLiteral("handle_token"), token);
  options.insert(QStringLiteral("interactive"), false);
  options.insert(QStringLiteral("modal"), true);
  call << QString() << options;
  // Asynchronous, so that the window system and the portal's own dialogs go
  // on while we wait: the loop ends with 0 on the response, 1 at the
  // deadline, 3 when the call's reply is in.
  QDBusPendingCall pending = bus.asyncCall(call, timeoutMs);
  QDBusPendingCallWatcher watcher(pending);
  QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, [&loop] { loop.exit(3); });
  while (!pending.isFinished() && !response.answered && deadline.isActive()) loop.exec();
  if (!response.answered) {
    const QDBusPendingReply<QDBusObjectPath> reply = pending;
    if (!reply.isFinished() || reply.isError()) return {};
    // Portals older than the handle token answer on a path of their own.
    const QString given = reply.value().path();
    if (given != handle) {
      bus.disconnect(QString::fromLatin1(kService), handle, QString::fromLatin1(kRequestInterface),
                     QStringLiteral("Response"), &response, SLOT(Response(uint, QVariantMap)));
      handle = given;
      if (!listen(handle)) return {};
    }
    while (!response.answered && deadline.isActive()) loop.exec();
  }
  bus.disconnect(QString::fromLatin1(kService), handle, QString::fromLatin1(kRequestInterface),
                 QStringLiteral("Response"), &response, SLOT(Response(uint, QVariantMap)));
  if (!response.answered) {
    // A question the portal may still show goes away with the request.
    bus.call(QDBusMessage::createMethodCall(QString::fromLatin1(kService), handle,
                                            QString::fromLatin1(kRequestInterface), QStringLiteral("Close")),
             QDBus::NoBlock);
    return {};
  }
  if (response.code != 0) return {};
  const QUrl uri(response.results.value(QStringLiteral("uri")).toString());
  if (!uri.isLocalFile()) return {};
  const QString file = uri.toLocalFile();
  QImage image(file);
  QFile::remove(file);
  return image;
}

}  // namespace parlex::qt

#include "screenshot_portal_qt.moc"
