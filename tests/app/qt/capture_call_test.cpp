// The page's capture call in the real main window: a page of the chat
// service calls window.external.capture(12, 34); the capture is driven with
// real input through the X server; the upload goes to the same loopback
// server that served the page. What the page saw, in order, is checked: its
// onFileSent runs with the server's reply before its capture call returns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWebEngineView>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/qt/main_window_qt.h"
#include "app/qt/program_qt.h"
#include "capture/qt/capture_surface_qt.h"
#include "capture/qt/input_script.h"
#include "qt_test_support.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/x11_display.h"
#include "support/scoped_env.h"

namespace parlex::app::qt {
namespace {

using parlex::qt::ClickWhenShown;
using parlex::qt::Drag;
using parlex::qt::Driver;
using parlex::qt::Join;
using parlex::qt::Step;
using parlex::qt::Xdo;
using parlex::testing::EvalInPage;
using parlex::testing::WaitUntil;

constexpr char kPage[] = R"(<!doctype html><html><head><meta charset="utf-8"><script>
var log = [];
function onFileSent(reply) { log.push('onFileSent:' + reply); }
function go() {
  setTimeout(function () {
    log.push('capture');
    var result = window.external.capture(12, 34);
    log.push('returned:' + typeof result);
    window.done = true;
  }, 0);
}
</script></head><body>chat</body></html>)";

// The capture window while it is up.
QWidget* CaptureWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (dynamic_cast<parlex::qt::CaptureSurfaceQt*>(w) && w->isVisible()) return w;
  return nullptr;
}

QPushButton* CaptureButton(const QString& label) {
  QWidget* window = CaptureWindow();
  if (!window) return nullptr;
  for (QPushButton* b : window->findChildren<QPushButton*>())
    if (b->text() == label) return b;
  return nullptr;
}

// The main window with the balloons it raises recorded.
class RecordingWindow : public MainWindowQt {
 public:
  using MainWindowQt::MainWindowQt;
  void Notify(const std::u16string& title, const std::u16string& text) override {
    balloons.push_back({title, text});
    MainWindowQt::Notify(title, text);
  }
  std::vector<std::pair<std::u16string, std::u16string>> balloons;
};

class CaptureCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parlex::qt::HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
    ASSERT_TRUE(tmp_.Ok());
    tmpdir_.emplace("TMPDIR", tmp_.Path().c_str());
    std::filesystem::create_directories(tmp_.Path() / "home" / "Pictures");
    home_.emplace("HOME", (tmp_.Path() / "home").c_str());
    // The chat service: its agent page and its image endpoint.
    test::ScriptedReply page;
    page.head = "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
    page.body = kPage;
    server_ = std::make_unique<test::LoopbackServer>();
    server_->Route("/embeded", page);
    server_->Route("/resource/staff/image", imageReply_);
    ASSERT_TRUE(server_->Start());
    const QString base = QString::fromStdU16String(server_->Url(u"/"));
    window_ =
        std::make_unique<RecordingWindow>(QUrl(QString::fromStdU16String(server_->Url(u"/embeded"))), base);
    window_->ShowAndFocus();
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto ready =
              EvalInPage(window_->view()->page(), QStringLiteral("typeof go === 'function'"), 1000);
          return ready && ready->toBool();
        },
        30000));
  }
  void TearDown() override {
    window_.reset();
    tmpdir_.reset();
    home_.reset();
  }

  // Starts the page's capture call and runs the steps while it is up; answers
  // the page's log once its call has returned.
  QString RunCapture(std::vector<Step> steps) {
    Driver driver(
        [] {
          if (QWidget* w = CaptureWindow()) w->close();
        },
        Join({{{[] { return CaptureWindow() != nullptr; }, [] { QTest::qWait(150); }}}, std::move(steps)}));
    EvalInPage(window_->view()->page(), QStringLiteral("go()"));
    const bool done = WaitUntil(
        [&] {
          const auto value = EvalInPage(window_->view()->page(), QStringLiteral("window.done === true"), 500);
          return value && value->toBool();
        },
        40000);
    EXPECT_TRUE(done) << "the page's capture call did not return";
    EXPECT_TRUE(driver.Finished()) << "ran " << driver.StepsRun() << " steps";
    const auto log = EvalInPage(window_->view()->page(), QStringLiteral("log.join('|')"));
    return log ? log->toString() : QString();
  }

  std::string Upload() {
    for (size_t n = 0; n < server_->Connections(); ++n) {
      const std::string request = server_->Received(n, 1000);
      if (request.rfind("POST ", 0) == 0) return request;
    }
    return {};
  }

  test::TempDir tmp_{"capture-call"};
  std::optional<test::ScopedEnv> tmpdir_;
  std::optional<test::ScopedEnv> home_;
  test::ScriptedReply imageReply_ = test::ScriptedReply::Text("ok:图1");
  std::unique_ptr<test::LoopbackServer> server_;
  std::unique_ptr<RecordingWindow> window_;
};

TEST_F(CaptureCallTest, SendHandsTheReplyToThePageBeforeCaptureReturns) {
  const QString log = RunCapture(Join(
      {Drag(300, 200, 700, 500), {ClickWhenShown([] { return CaptureButton(QStringLiteral("发送")); })}}));
  EXPECT_EQ(log, QStringLiteral("capture|onFileSent:ok:图1|returned:undefined"));
  EXPECT_TRUE(window_->isVisible()) << "the main window was not shown again";
  EXPECT_TRUE(window_->balloons.empty());
  const std::string upload = Upload();
  ASSERT_FALSE(upload.empty()) << "nothing was uploaded";
  EXPECT_EQ(upload.rfind("POST /resource/staff/image HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(upload.find("name=\"companyId\"\r\n\r\n12\r\n"), std::string::npos);
  EXPECT_NE(upload.find("name=\"visitorId\"\r\n\r\n34\r\n"), std::string::npos);
  EXPECT_NE(upload.find("\xFF\xD8\xFF"), std::string::npos) << "no JPEG in the upload";
}

// An image endpoint that takes the picture and closes without a reply.
class FailedSendTest : public CaptureCallTest {
 protected:
  void SetUp() override {
    imageReply_.mode = test::ScriptedReply::Mode::kCloseWithoutReply;
    CaptureCallTest::SetUp();
  }
};

TEST_F(FailedSendTest, TheAgentIsToldWhereTheUnsentCaptureWasKept) {
  const QString log = RunCapture(Join(
      {Drag(300, 200, 700, 500), {ClickWhenShown([] { return CaptureButton(QStringLiteral("发送")); })}}));
  EXPECT_EQ(log, QStringLiteral("capture|onFileSent:|returned:undefined"));
  std::vector<std::filesystem::path> kept;
  for (const auto& entry : std::filesystem::directory_iterator(tmp_.Path() / "home" / "Pictures"))
    kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u);
  ASSERT_EQ(window_->balloons.size(), 1u);
  EXPECT_EQ(window_->balloons[0].first, u"截屏未发送");
  EXPECT_EQ(window_->balloons[0].second, u"已保存到 " + kept[0].u16string());
}

TEST_F(CaptureCallTest, EscShowsTheWindowAgainAndCallsNothingInThePage) {
  window_->hide();  // a hidden window comes back too
  const QString log = RunCapture(Join({Drag(300, 200, 700, 500),
                                       {{[] {
                                           return CaptureButton(QStringLiteral("发送")) &&
                                                  CaptureButton(QStringLiteral("发送"))->isVisible();
                                         },
                                         [] { Xdo("key Escape"); }}}}));
  EXPECT_EQ(log, QStringLiteral("capture|returned:undefined"));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(Upload().empty());
  EXPECT_EQ(CaptureWindow(), nullptr);
}

TEST_F(CaptureCallTest, TheWindowsCloseRequestCancelsTheCapture) {
  const QString log =
      RunCapture({{[] { return CaptureWindow() != nullptr; },
                   [] { EXPECT_TRUE(parlex::test::SendCloseRequest(CaptureWindow()->winId())); }}});
  EXPECT_EQ(log, QStringLiteral("capture|returned:undefined"));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(Upload().empty());
}

}  // namespace
}  // namespace parlex::app::qt
