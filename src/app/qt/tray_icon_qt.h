// The program's icon in the desktop's notification area: the way back to a
// hidden main window, the exit command and the balloons. On a desktop
// without a notification area the balloons go to the desktop's notification
// service instead, when there is one.
#pragma once

#include <QObject>
#include <memory>
#include <string_view>

class QMenu;
class QSystemTrayIcon;

namespace parlex::app::qt {

class DesktopNotificationsQt;

class TrayIconQt : public QObject {
  Q_OBJECT

 public:
  explicit TrayIconQt(QObject* parent = nullptr);
  ~TrayIconQt() override;

  // Puts the icon (icon 128, tip "Ostrel", the menu) into the notification
  // area. Where there is none yet, it appears as soon as one starts.
  void Show();

  // One balloon on the icon, replacing the one before; the title and text
  // are cut as the notification area takes them. Without a notification
  // area it becomes a desktop notification, or is dropped.
  void Balloon(std::u16string_view title, std::u16string_view text);

  // Takes the icon out of the notification area for good; balloons after
  // this are dropped.
  void Remove();

  // Whether the desktop has a notification area to hold the icon right now.
  static bool DesktopHasTray();

  // The icon itself, for its geometry and menu (null after Remove).
  QSystemTrayIcon* icon() const { return icon_.get(); }

 signals:
  // A left click on the icon, a click on a balloon, or "显示".
  void showRequested();
  // "退出".
  void exitRequested();

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::unique_ptr<DesktopNotificationsQt> notifications_;
};

}  // namespace parlex::app::qt
