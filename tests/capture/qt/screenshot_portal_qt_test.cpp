// The desktop portal's screenshot, against a portal of the test's own on a
// private session bus (a dbus-daemon the test starts and ends): the call's
// options, the answer through the request's Response signal, refusals, old
// portals that pick their own request path, and silence. Also how the
// primary screen is cut out of a picture of the whole desktop, and grim,
// the next source on a Wayland desktop, bounded in time and size.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/qt/screen_grab_qt.h"
#include "capture/qt/screenshot_portal_qt.h"
#include "capture/qt/snapshot_sources_qt.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace parlex::qt {
namespace {

QString g_busAddress;

// The portal's Screenshot method as the test wants it answered.
// A request the portal keeps open: the caller may close it.
class FakeRequest : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

 public:
  int closed = 0;

 public slots:
  void Close() { ++closed; }
};

class FakePortal : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

 public:
  explicit FakePortal(QDBusConnection connection) : connection_(connection) {}

  QString uri;
  FakeRequest* silentRequest = nullptr;  // stands at the path of a request left unanswered
  uint code = 0;
  bool answer = true;
  bool ownPath = false;  // an old portal: a request path of its own choosing
  QVariantMap options;
  int calls = 0;

 public slots:
  QDBusObjectPath Screenshot(const QString&, const QVariantMap& given) {
    ++calls;
    options = given;
    QString sender = message().service().mid(1);
    sender.replace(u'.', u'_');
    const QString path = ownPath ? QStringLiteral("/org/freedesktop/portal/desktop/request/old/42")
                                 : QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                       .arg(sender, given.value(QStringLiteral("handle_token")).toString());
    if (answer) {
      QTimer::singleShot(50, this, [this, path] {
        QDBusMessage signal = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        QVariantMap results;
        results.insert(QStringLiteral("uri"), uri);
        signal << code << results;
        connection_.send(signal);
      });
    }
    if (!answer && silentRequest) {
      connection_.unregisterObject(silentPath_);
      silentPath_ = path;
      connection_.registerObject(path, silentRequest, QDBusConnection::ExportAllSlots);
    }
    return QDBusObjectPath(path);
  }

 private:
  QDBusConnection connection_;
  QString silentPath_;
};

class PortalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_busAddress.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    ASSERT_TRUE(dir_.Ok());
    ASSERT_TRUE(connection_.isConnected());
    ASSERT_TRUE(connection_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal_,
                                           QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(connection_.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    picture.setPixel(5, 7, qRgb(255, 0, 0));
    const std::string file = (dir_.Path() / "shot.png").string();
    ASSERT_TRUE(picture.save(QString::fromStdString(file)));
    portal_.uri = QUrl::fromLocalFile(QString::fromStdString(file)).toString();
  }
  void TearDown() override {
    connection_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    connection_.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
  }

  test::TempDir dir_{"portal"};
  QDBusConnection connection_ = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("fake-portal"));
  FakePortal portal_{connection_};
};

TEST_F(PortalTest, TheAnswersImageComesBack) {
  const QImage image = ScreenshotThroughPortalQt(5000);
  ASSERT_EQ(image.size(), QSize(64, 48));
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "shot.png")) << "the portal's file was left behind";
  EXPECT_EQ(image.pixel(5, 7) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(image.pixel(6, 7) & 0xFFFFFF, 0x0AC81Eu);
  EXPECT_EQ(portal_.calls, 1);
  EXPECT_FALSE(portal_.options.value(QStringLiteral("interactive")).toBool());
  EXPECT_FALSE(portal_.options.value(QStringLiteral("handle_token")).toString().isEmpty());
}

TEST_F(PortalTest, AnOldPortalsOwnRequestPathIsFollowed) {
  portal_.ownPath = true;
  EXPECT_EQ(ScreenshotThroughPortalQt(5000).size(), QSize(64, 48));
}

TEST_F(PortalTest, RefusalSilenceAndNoPortalGiveNothing) {
  portal_.code = 1;  // the agent said no
  EXPECT_TRUE(ScreenshotThroughPortalQt(5000).isNull());

  portal_.code = 0;
  portal_.uri = QStringLiteral("https://example.invalid/shot.png");  // not a file
  EXPECT_TRUE(ScreenshotThroughPortalQt(5000).isNull());

  portal_.answer = false;
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(ScreenshotThroughPortalQt(400).isNull());
  EXPECT_LT(clock.elapsed(), 3000);
  // The silent request is closed, so a question it shows goes away.
  FakeRequest request;
  portal_.silentRequest = &request;
  EXPECT_TRUE(ScreenshotThroughPortalQt(400).isNull());
  for (int i = 0; i < 40 && request.closed == 0; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(50);
  }
  EXPECT_EQ(request.closed, 1);
  portal_.silentRequest = nullptr;

  connection_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
  clock.restart();
  EXPECT_TRUE(ScreenshotThroughPortalQt(5000).isNull());
  EXPECT_LT(clock.elapsed(), 3000) << "waited for a portal that is not there";
}

// A stand-in for grim in a folder put first on PATH: writes a 40 x 30 PPM,
// red at (3, 4), or what the test asks of it.
class HelperTest : public PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 255));
    picture.setPixel(3, 4, qRgb(255, 0, 0));
    ASSERT_TRUE(picture.save(QString::fromStdString((dir_.Path() / "shot.ppm").string()), "PPM"));
    Grim("cat '" + (dir_.Path() / "shot.ppm").string() + "'");
  }
  void Grim(const std::string& body) {
    const std::filesystem::path grim = dir_.Write("grim", "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(grim, std::filesystem::perms::owner_all);
  }
  test::ScopedEnv path_{"PATH", (dir_.Path().string() + ":" + std::getenv("PATH")).c_str()};
};

TEST_F(HelperTest, ThePortalFirstThenGrimThenNothing) {
  EXPECT_EQ(DesktopSnapshotQt().size(), QSize(64, 48));
  connection_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
  const QImage image = DesktopSnapshotQt();
  ASSERT_EQ(image.size(), QSize(40, 30));
  EXPECT_EQ(image.pixel(3, 4) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(image.pixel(4, 4) & 0xFFFFFF, 0x0000FFu);
  Grim("exit 1");
  EXPECT_TRUE(DesktopSnapshotQt().isNull());
}

TEST_F(HelperTest, AHelperIsBoundInTimeAndSize) {
  const QString grim = QString::fromStdString((dir_.Path() / "grim").string());
  Grim("cat '" + (dir_.Path() / "shot.ppm").string() + "'; exit 3");
  EXPECT_TRUE(ImageFromHelperQt(grim, {}).isNull()) << "a failed helper's output was used";
  Grim("echo not a picture");
  EXPECT_TRUE(ImageFromHelperQt(grim, {}).isNull());
  EXPECT_TRUE(ImageFromHelperQt(QStringLiteral("parlex-no-such-helper"), {}).isNull());

  QElapsedTimer clock;
  clock.start();
  Grim("exec sleep 30");
  EXPECT_TRUE(ImageFromHelperQt(grim, {}, 300).isNull());
  EXPECT_LT(clock.elapsed(), 3000) << "waited for a silent helper";
  clock.restart();
  Grim("exec yes");
  EXPECT_TRUE(ImageFromHelperQt(grim, {}, 20000, 1 << 20).isNull());
  EXPECT_LT(clock.elapsed(), 10000) << "read on past the size bound";
}

TEST(WaylandSession, KnownByTheSessionTypeOrTheDisplay) {
  test::ScopedEnv type("XDG_SESSION_TYPE", "x11");
  test::ScopedEnv display("WAYLAND_DISPLAY", nullptr);
  EXPECT_FALSE(InWaylandSessionQt());
  display.Set("wayland-0");
  EXPECT_TRUE(InWaylandSessionQt());
  display.Set(nullptr);
  type.Set("wayland");
  EXPECT_TRUE(InWaylandSessionQt());
}

TEST(PrimaryScreenPart, CutsTheScreenOutOfTheDesktopInDevicePixels) {
  QImage desktop(300, 200, QImage::Format_RGB32);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) desktop.setPixel(x, y, qRgb(x % 256, y, 0));
  EXPECT_EQ(PrimaryScreenPart(desktop, QRect(0, 0, 300, 200), 1.0), desktop);
  EXPECT_EQ(PrimaryScreenPart(desktop, QRect(0, 0, 150, 100), 2.0), desktop);
  const QImage right = PrimaryScreenPart(desktop, QRect(50, 0, 50, 50), 2.0);
  ASSERT_EQ(right.size(), QSize(100, 100));
  EXPECT_EQ(right.pixel(0, 0), qRgb(100, 0, 0));
  EXPECT_TRUE(PrimaryScreenPart(desktop, QRect(0, 0, 400, 200), 1.0).isNull());
  EXPECT_TRUE(PrimaryScreenPart(QImage(), QRect(0, 0, 300, 200), 1.0).isNull());
}

}  // namespace
}  // namespace parlex::qt

// A private session bus for this process: a dbus-daemon started as our own
// child before the first use of the bus, ended and reaped after the last test.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  pid_t busPid = 0;
  int pipeFds[2];
  if (!GTEST_FLAG_GET(list_tests) && ::pipe(pipeFds) == 0) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char* args[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>("--session"),
                    const_cast<char*>("--nofork"), const_cast<char*>("--print-address=1"), nullptr};
    if (posix_spawnp(&busPid, "dbus-daemon", &actions, nullptr, args, environ) != 0) busPid = 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (FILE* out = ::fdopen(pipeFds[0], "r")) {
      char address[512] = {};
      if (busPid > 0 && std::fgets(address, sizeof address, out)) {
        parlex::qt::g_busAddress = QString::fromLocal8Bit(address).trimmed();
        setenv("DBUS_SESSION_BUS_ADDRESS", parlex::qt::g_busAddress.toLocal8Bit().constData(), 1);
      }
      std::fclose(out);
    }
  }
  int result = 0;
  {
    QCoreApplication app(argc, argv);
    result = RUN_ALL_TESTS();
  }
  if (busPid > 0) {
    ::kill(busPid, SIGTERM);
    ::waitpid(busPid, nullptr, 0);
  }
  return result;
}

#include "screenshot_portal_qt_test.moc"
