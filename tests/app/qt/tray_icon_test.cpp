// The tray icon of the main window: in a real XEmbed notification area
// (trayer, started by the test) and, without one, through a desktop
// notification service on a private session bus the test starts.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/qt/main_window_qt.h"
#include "app/qt/program_qt.h"
#include "app/qt/tray_icon_qt.h"
#include "qt_test_support.h"
#include "support/x11_display.h"

extern char** environ;

namespace parlex::app::qt {
namespace {

using parlex::test::TrayHost;
using parlex::test::Xdotool;
using parlex::testing::LoopbackHttpServer;
using parlex::testing::WaitUntil;

constexpr int kLoadTimeoutMs = 30000;

// The balloon Qt shows on an XEmbed icon: its title and text.
QStringList BalloonTexts(QWidget** balloon = nullptr) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->inherits("QBalloonTip") || !widget->isVisible()) continue;
    if (balloon != nullptr) *balloon = widget;
    QStringList texts;
    for (const QLabel* label : widget->findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) texts << label->text();
    }
    return texts;
  }
  return {};
}

// What a desktop notification service saw.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Shown {
    QString app;
    uint replaces;
    QString summary;
    QString body;
    QStringList actions;
  };
  QList<Shown> shown;

 public slots:
  uint Notify(const QString& app, uint replaces, const QString& /*icon*/, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& /*hints*/,
              int /*timeout*/) {
    shown.append({app, replaces, summary, body, actions});
    return 100 + static_cast<uint>(shown.size());
  }
  QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("actions")}; }
};

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening());
    server_.Serve(QStringLiteral("/embeded"), "<!doctype html><meta charset='utf-8'><title>agent</title>");
  }

  std::unique_ptr<MainWindowQt> Open() {
    auto window = std::make_unique<MainWindowQt>(server_.Url(QStringLiteral("/embeded")),
                                                 server_.Url(QStringLiteral("/")).toString());
    QObject::connect(window->view(), &QWebEngineView::loadFinished, [this](bool) { ++loads_; });
    return window;
  }

  LoopbackHttpServer server_;
  int loads_ = 0;
};

TEST_F(TrayIconTest, WelcomesWhileHiddenAndBringsTheWindowBack) {
  TrayHost tray;
  ASSERT_TRUE(tray.Start()) << "no notification area";
  auto window = Open();
  ASSERT_NE(window->trayIcon()->icon(), nullptr);
  QSystemTrayIcon& icon = *window->trayIcon()->icon();
  EXPECT_TRUE(icon.isVisible());
  EXPECT_EQ(icon.toolTip(), QStringLiteral("Ostrel"));
  ASSERT_NE(icon.contextMenu(), nullptr);
  const QList<QAction*> items = icon.contextMenu()->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), QStringLiteral("显示"));
  EXPECT_TRUE(items[1]->isSeparator());
  EXPECT_EQ(items[2]->text(), QStringLiteral("退出"));

  // The welcome balloon, while the window is still hidden.
  EXPECT_TRUE(WaitUntil([] { return !BalloonTexts().isEmpty(); }, 5000));
  EXPECT_EQ(BalloonTexts(), (QStringList{QStringLiteral("Ostrel"), QStringLiteral("欢迎使用Ostrel登录器")}));
  EXPECT_FALSE(window->isVisible());

  // A left click on the icon in the notification area shows it.
  int x = 0, y = 0;
  ASSERT_TRUE(WaitUntil([&] { return tray.FirstIconCentre(x, y, 0); }, 10000)) << "icon never docked";
  Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y));
  WaitUntil([] { return false; }, 300);
  Xdotool("click 1");
  EXPECT_TRUE(WaitUntil([&] { return window->isVisible(); }, 5000)) << "clicked at " << x << "," << y;
  ASSERT_TRUE(WaitUntil([&] { return loads_ >= 1; }, kLoadTimeoutMs));

  // The page's notification is cut to 63 and 255 units; a click on the
  // balloon shows the hidden window again.
  window->close();
  ASSERT_TRUE(WaitUntil([&] { return !window->isVisible(); }, 5000));
  window->view()->page()->runJavaScript(
      QStringLiteral("window.external.notify('T'.repeat(70), '文'.repeat(300));"));
  QWidget* balloon = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return BalloonTexts().value(0).startsWith(u'T'); }, 5000));
  EXPECT_EQ(BalloonTexts(&balloon), (QStringList{QString(63, u'T'), QString(255, u'文')}));
  ASSERT_NE(balloon, nullptr);
  QTest::mouseClick(balloon, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(WaitUntil([&] { return window->isVisible(); }, 5000));
}

TEST_F(TrayIconTest, ExitFromTheMenuRemovesTheIconAndEndsWith32778) {
  PrepareApplication();
  TrayHost tray;
  ASSERT_TRUE(tray.Start()) << "no notification area";
  auto window = Open();
  window->ShowAndFocus();
  int x = 0, y = 0;
  ASSERT_TRUE(WaitUntil([&] { return tray.FirstIconCentre(x, y, 0); }, 10000)) << "icon never docked";
  QMenu* menu = window->trayIcon()->icon()->contextMenu();

  // A right click on the icon opens the menu; "退出" is clicked in it.
  QObject scope;
  QTimer::singleShot(
      100, &scope, [&] { Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 3"); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!menu->isVisible()) return;
    poll.stop();
    const QPoint exit = menu->mapToGlobal(menu->actionGeometry(menu->actions().at(2)).center());
    Xdotool("mousemove " + std::to_string(exit.x()) + " " + std::to_string(exit.y()) + " sleep 0.3 click 1");
  });
  poll.start(50);
  QTimer safety;
  safety.setSingleShot(true);
  QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
  safety.start(20000);
  EXPECT_EQ(QApplication::exec(), 32778);
  EXPECT_EQ(window->trayIcon()->icon(), nullptr);
  EXPECT_TRUE(tray.WaitUntilEmpty()) << "the icon stayed in the notification area";
  EXPECT_FALSE(window->isVisible());
}

TEST_F(TrayIconTest, IconComesBackWhenTheNotificationAreaRestarts) {
  auto tray = std::make_unique<TrayHost>();
  ASSERT_TRUE(tray->Start()) << "no notification area";
  auto window = Open();
  int x = 0, y = 0;
  ASSERT_TRUE(WaitUntil([&] { return tray->FirstIconCentre(x, y, 0); }, 10000)) << "icon never docked";
  tray.reset();
  ASSERT_TRUE(WaitUntil([] { return !TrayIconQt::DesktopHasTray(); }, 5000));
  tray = std::make_unique<TrayHost>();
  ASSERT_TRUE(tray->Start());
  EXPECT_TRUE(WaitUntil([&] { return tray->FirstIconCentre(x, y, 0); }, 10000)) << "icon not docked again";
}

TEST_F(TrayIconTest, WithoutATrayBalloonsGoToTheDesktopsNotificationService) {
  ASSERT_FALSE(parlex::test::DisplayHasTray());
  // The toolkit learns from its event queue that a tray host has gone.
  ASSERT_TRUE(WaitUntil([] { return !TrayIconQt::DesktopHasTray(); }, 5000));
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  ASSERT_NE(address, nullptr) << "no private session bus";
  QDBusConnection service =
      QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("notifier"));
  ASSERT_TRUE(service.isConnected());
  FakeNotifications notifications;
  const QString path = QStringLiteral("/org/freedesktop/Notifications");
  ASSERT_TRUE(service.registerObject(path, &notifications, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

  auto window = Open();
  ASSERT_TRUE(WaitUntil([&] { return !notifications.shown.isEmpty(); }, 5000)) << "no welcome notification";
  const FakeNotifications::Shown welcome = notifications.shown.first();
  EXPECT_EQ(welcome.app, QStringLiteral("Ostrel"));
  EXPECT_EQ(welcome.replaces, 0u);
  EXPECT_EQ(welcome.summary, QStringLiteral("Ostrel"));
  EXPECT_EQ(welcome.body, QStringLiteral("欢迎使用Ostrel登录器"));
  EXPECT_TRUE(welcome.actions.contains(QStringLiteral("default")));
  EXPECT_TRUE(BalloonTexts().isEmpty());

  ASSERT_TRUE(WaitUntil([&] { return loads_ >= 1; }, kLoadTimeoutMs));
  window->view()->page()->runJavaScript(
      QStringLiteral("window.external.notify('T'.repeat(70), 'x'.repeat(300));"));
  ASSERT_TRUE(WaitUntil([&] { return notifications.shown.size() >= 2; }, 5000));
  const FakeNotifications::Shown note = notifications.shown.at(1);
  EXPECT_EQ(note.summary, QString(63, u'T'));
  EXPECT_EQ(note.body, QString(255, u'x'));
  EXPECT_EQ(note.replaces, 101u) << "does not replace the welcome";

  // A click on the notification brings the hidden window back.
  EXPECT_FALSE(window->isVisible());
  QDBusMessage clicked = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.Notifications"),
                                                    QStringLiteral("ActionInvoked"));
  clicked << 102u << QStringLiteral("default");
  ASSERT_TRUE(service.send(clicked));
  EXPECT_TRUE(WaitUntil([&] { return window->isVisible(); }, 5000));

  service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
  QDBusConnection::disconnectFromBus(QStringLiteral("notifier"));
}

// A session bus of this test's own, so no notification service of the
// machine sees the test and the test sees none of the machine's.
class PrivateSessionBus {
 public:
  bool Start() {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = "dbus-daemon", session[] = "--session", print[] = "--print-address=1",
         nofork[] = "--nofork";
    char* argv[] = {program, session, print, nofork, nullptr};
    const int rc = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      pid_ = -1;
      return false;
    }
    FILE* reader = fdopen(out[0], "r");
    char line[512] = {};
    const bool read = reader != nullptr && fgets(line, sizeof line, reader) != nullptr;
    if (reader != nullptr) fclose(reader);
    std::string address = read ? line : "";
    while (!address.empty() && (address.back() == '\n' || address.back() == '\r')) address.pop_back();
    if (address.empty()) return false;
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return true;
  }
  ~PrivateSessionBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace
}  // namespace parlex::app::qt

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  parlex::test::HoldXDisplay();
  parlex::app::qt::PrivateSessionBus bus;
  if (!bus.Start()) unsetenv("DBUS_SESSION_BUS_ADDRESS");
  parlex::app::qt::PrepareProcess();
  int result = 0;
  {
    QApplication app(argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}

#include "tray_icon_test.moc"
