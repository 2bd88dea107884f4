#include "app/qt/desktop_notifications_qt.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "app/shell_texts.h"

namespace parlex::app::qt {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a click on the notification's body invokes.
const QString kDefaultAction = QStringLiteral("default");

}  // namespace

DesktopNotificationsQt::DesktopNotificationsQt(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
              SLOT(OnActionInvoked(uint, QString)));
}

DesktopNotificationsQt::~DesktopNotificationsQt() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                   SLOT(OnActionInvoked(uint, QString)));
  }
}

void DesktopNotificationsQt::Show(const QString& title, const QString& text) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QString::fromUtf16(kMainWindowTitle)    // app_name
       << lastId_                                 // replaces_id
       << QString()                               // app_icon
       << title                                   // summary
       << text                                    // body
       << QStringList{kDefaultAction, QString()}  // actions
       << QVariantMap()                           // hints
       << static_cast<int32_t>(-1);               // expire_timeout: the service's default
  // The answer (the notification's id) comes later; the program never
  // waits on the service.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
    const QDBusPendingReply<uint> reply = *finished;
    if (reply.isValid()) lastId_ = reply.value();
    finished->deleteLater();
  });
}

void DesktopNotificationsQt::OnActionInvoked(uint id, const QString& action) {
  if (id != 0 && id == lastId_ && action == kDefaultAction) emit clicked();
}

}  // namespace parlex::app::qt
