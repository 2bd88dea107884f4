#include "app/qt/tray_icon_qt.h"

#include <QMenu>
#include <QString>
#include <QSystemTrayIcon>

#include "app/bridge.h"
#include "app/qt/desktop_notifications_qt.h"
#include "app/shell_texts.h"
#include "platform/qt/resource_images.h"

namespace parlex::app::qt {

namespace {

QString ToQString(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace

TrayIconQt::TrayIconQt(QObject* parent)
    : QObject(parent),
      menu_(std::make_unique<QMenu>()),
      icon_(std::make_unique<QSystemTrayIcon>()),
      notifications_(std::make_unique<DesktopNotificationsQt>()) {
  menu_->addAction(QString::fromUtf16(kTrayMenuShow), this, &TrayIconQt::showRequested);
  menu_->addSeparator();
  menu_->addAction(QString::fromUtf16(kTrayMenuExit), this, &TrayIconQt::exitRequested);

  icon_->setIcon(parlex::qt::AppIcon());
  icon_->setToolTip(QString::fromUtf16(kTrayTip));
  icon_->setContextMenu(menu_.get());
  connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    // The first press of a double click has shown the window already.
    if (reason == QSystemTrayIcon::Trigger) emit showRequested();
  });
  connect(icon_.get(), &QSystemTrayIcon::messageClicked, this, &TrayIconQt::showRequested);
  connect(notifications_.get(), &DesktopNotificationsQt::clicked, this, &TrayIconQt::showRequested);
}

TrayIconQt::~TrayIconQt() = default;

void TrayIconQt::Show() {
  if (icon_) icon_->show();
}

void TrayIconQt::Balloon(std::u16string_view title, std::u16string_view text) {
  if (!icon_) return;
  const QString cutTitle = ToQString(BalloonTitle(title));
  const QString cutText = ToQString(BalloonText(text));
  if (DesktopHasTray()) {
    icon_->showMessage(cutTitle, cutText, QSystemTrayIcon::NoIcon);
  } else {
    notifications_->Show(cutTitle, cutText);
  }
}

void TrayIconQt::Remove() {
  if (!icon_) return;
  icon_->hide();
  icon_.reset();
  notifications_.reset();
}

bool TrayIconQt::DesktopHasTray() { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace parlex::app::qt
