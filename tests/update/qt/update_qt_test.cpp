// The Linux program's update as the agent sees it: the question box, the
// download window and the restart message, answered by the test itself,
// against a loopback update server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "support/loopback_server.h"
#include "support/scoped_env.h"
#include "update/posix/update_platform_posix.h"
#include "update/qt/update_agent_qt.h"

namespace parlex::update::qt {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;
using test::Reply;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Elf(size_t size) {
  std::string body(
      "\x7f"
      "ELF",
      4);
  body.resize(size, 'x');
  return body;
}

class TestPlatform : public posix::UpdatePlatformPosix {
 public:
  fs::path exe;
  bool IsConnected() override { return true; }
  std::u16string OwnPath() override { return FromUtf8(exe.string()); }
};

// Watches the top-level widgets while the code under test runs its own
// event loops, and answers message boxes the way the agent would.
class Watcher {
 public:
  explicit Watcher(QMessageBox::StandardButton answer) : answer_(answer) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start();
    clock_.start();
  }

  struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool owned;
  };
  std::vector<SeenBox> boxes;
  std::vector<QString> progressTexts;
  std::vector<int> progressValues;
  bool progressSeen = false;

 private:
  void Look() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                         box->parentWidget() != nullptr});
        QAbstractButton* button = box->button(answer_);
        if (button == nullptr) button = box->button(QMessageBox::Ok);
        // Never leave a box open: the test would hang.
        if (button != nullptr) {
          button->click();
        } else {
          box->done(0);
        }
      } else if (w->objectName() == QLatin1String("parlexUpdateProgress")) {
        progressSeen = true;
        auto* label = w->findChild<QLabel*>();
        auto* bar = w->findChild<QProgressBar*>();
        if (label != nullptr && bar != nullptr &&
            (progressTexts.empty() || progressTexts.back() != label->text())) {
          progressTexts.push_back(label->text());
          progressValues.push_back(bar->value());
        }
      }
    }
  }

  QMessageBox::StandardButton answer_;
  QTimer timer_;
  QElapsedTimer clock_;
};

class QtUpdate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "update_qt_test";
      static char* argv[] = {name, nullptr};
      // Kept to the end of the process: destroying it among the static
      // objects at exit, after the windows it showed, crashes.
      new QApplication(argc, argv);
    }
  }
  void SetUp() override {
    char pattern[] = "/tmp/parlex-update-qt-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::create_directory(dir / "temp");
    tmpdir.emplace("TMPDIR", (dir / "temp").c_str());
    platform.exe = dir / "parlex";
    std::ofstream(platform.exe) << "old program";
    chmod(platform.exe.c_str(), 0755);
    ASSERT_TRUE(server.Start());
    server.Set("update/update.txt", Reply{200, "1.0.1.1"});
    // A pause half-way, so that the download window is there to be seen.
    server.Set("update/parlex", Reply{200, Elf(50000), -2, false, 8192, 400});
  }
  void TearDown() override {
    server.Stop();
    tmpdir.reset();
    fs::remove_all(dir);
  }
  UpdateResult Run() {
    CAutoUpdater updater(platform, agent);
    return updater.RunUpdateCheck(FromUtf8(server.UrlText("update/")));
  }

  fs::path dir;
  std::optional<test::ScopedEnv> tmpdir;
  LoopbackServer server;
  TestPlatform platform;
  UpdateAgentQt agent;
};

TEST_F(QtUpdate, YesInstallsWithTheDownloadWindowShowing) {
  Watcher watcher(QMessageBox::Yes);
  EXPECT_EQ(Run(), updInstalled);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("更新提醒"));
  EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("检测到新版本，是否更新?"));
  EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Question);
  EXPECT_EQ(watcher.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_FALSE(watcher.boxes[0].owned);  // no window exists at start-up
  EXPECT_TRUE(ReadAll(platform.exe) == Elf(50000));
  EXPECT_EQ(ReadAll(dir / ".旧版本"), "old program");

  // The window showed the bytes so far against the announced size while the
  // server paused, and is gone afterwards.
  EXPECT_TRUE(watcher.progressSeen);
  // The window is looked at whenever it lets events through (between
  // chunks), so which counts are seen varies; one of them must be part-way.
  bool partWay = false;
  for (size_t i = 0; i < watcher.progressTexts.size(); ++i) {
    QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^已下载 (\\d+) / 50000 字节$")).match(watcher.progressTexts[i]);
    ASSERT_TRUE(m.hasMatch()) << watcher.progressTexts[i].toStdString();
    int received = m.captured(1).toInt();
    int bar = watcher.progressValues[i];
    if (received > 0 && received < 50000) {
      partWay = true;
      EXPECT_EQ(bar, received * 1000LL / 50000);
    }
  }
  EXPECT_TRUE(partWay);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(w->isVisible() && w->objectName() == QLatin1String("parlexUpdateProgress"));
  }
}

TEST_F(QtUpdate, NoLeavesTheProgramAlone) {
  Watcher watcher(QMessageBox::No);
  EXPECT_EQ(Run(), updNotInstalled);
  EXPECT_EQ(watcher.boxes.size(), 1u);
  EXPECT_FALSE(watcher.progressSeen);
  EXPECT_EQ(ReadAll(platform.exe), "old program");
  EXPECT_FALSE(fs::exists(dir / "temp" / "parlex"));
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(QtUpdate, FailedDownloadClosesTheWindowToo) {
  server.Set("update/parlex", Reply{200, Elf(8000), 50000});
  Watcher watcher(QMessageBox::Yes);
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(ReadAll(platform.exe), "old program");
  EXPECT_FALSE(fs::exists(dir / "temp" / "parlex"));
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(w->isVisible() && w->objectName() == QLatin1String("parlexUpdateProgress"));
  }
}

TEST_F(QtUpdate, ErrorReplyIsNotOfferedToTheAgent) {
  server.Set("update/parlex", Reply{404, "<html>Not Found</html>"});
  Watcher watcher(QMessageBox::Yes);
  EXPECT_EQ(Run(), updOpenFailed);
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(QtUpdate, RestartMessage) {
  Watcher watcher(QMessageBox::Ok);
  ShowUpdatedMessage();
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("自动更新提醒"));
  EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("更新成功，请重新启动登录器！"));
  EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Information);
  EXPECT_EQ(watcher.boxes[0].buttons, QMessageBox::Ok);
  EXPECT_FALSE(watcher.boxes[0].owned);
}

}  // namespace
}  // namespace parlex::update::qt
