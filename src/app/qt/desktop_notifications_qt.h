// Balloons for desktops without a notification area: the desktop's
// notification service over the session bus (org.freedesktop.Notifications).
// Without a bus or a service the notification is dropped, silently.
#pragma once

#include <QObject>
#include <QString>

namespace parlex::app::qt {

class DesktopNotificationsQt : public QObject {
  Q_OBJECT

 public:
  explicit DesktopNotificationsQt(QObject* parent = nullptr);
  ~DesktopNotificationsQt() override;

  // Shows one notification in place of the one shown before. Never waits
  // for the service.
  void Show(const QString& title, const QString& text);

 signals:
  // The agent clicked one of our notifications.
  void clicked();

 private slots:
  void OnActionInvoked(uint id, const QString& action);

 private:
  uint lastId_ = 0;
};

}  // namespace parlex::app::qt
