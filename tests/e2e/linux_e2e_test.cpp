// The agent's main job on Linux, end to end and with nothing faked: the demo
// chat service on the program's built-in address, a notification area, the
// real program showing the agent page, real pointer and key input, and two
// visitors in headless Chromium. A visitor writes "你好"; the agent chooses
// the conversation in the program's page and answers, and the visitor sees
// the answer. The page's capture button freezes a known pattern on screen; a
// selection, an arrow, a rectangle and a text are drawn and "发送" sends it:
// the service stores a JPEG of the selection with red where the shapes are,
// the page gets the service's reply through onFileSent before its capture
// call returns, and the visitor's page shows the image at the selection's
// size. The other visitor sees none of it. Then Esc (nothing sent, nothing
// called back) and the page's quit.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "headless_chromium.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/x11_display.h"

namespace parlex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class PatternWindow : public QWidget {
 public:
  PatternWindow() {
    setWindowFlags(Qt::FramelessWindowHint);
    setGeometry(0, 0, 1920, 1080);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, pattern_); }

 private:
  QImage pattern_ = PatternImage(1920, 1080);
};

// Keeps the test's own windows painting while it waits.
void Pump(int ms) { QTest::qWait(ms); }

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    Pump(100);
  }
  return done();
}

// xdotool with its words, through the suites' X helpers.
void Xdotool(const std::vector<std::string>& args) {
  std::string words;
  for (const std::string& arg : args) words += (words.empty() ? "" : " ") + arg;
  test::Xdotool(words);
}

void Click(int x, int y) {
  Xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
  Pump(150);
  Xdotool({"click", "1"});
  Pump(350);
}

void Drag(int x1, int y1, int x2, int y2) {
  Xdotool({"mousemove", "--sync", std::to_string(x1), std::to_string(y1)});
  Pump(150);
  Xdotool({"mousedown", "1"});
  Pump(150);
  for (int i = 1; i <= 4; ++i) {
    Xdotool({"mousemove", "--sync", std::to_string(x1 + (x2 - x1) * i / 4),
             std::to_string(y1 + (y2 - y1) * i / 4)});
    Pump(80);
  }
  Xdotool({"mouseup", "1"});
  Pump(400);
}

// Some pixel within `radius` of (x, y) carries the annotations' red. The
// pattern holds no red at all, and JPEG blends a one-pixel red line into its
// neighbours (a diagonal on cyan keeps about a third of its red), so a clear
// amount of red is the mark.
bool RedNear(const QImage& image, int x, int y, int radius = 2) {
  for (int dy = -radius; dy <= radius; ++dy) {
    for (int dx = -radius; dx <= radius; ++dx) {
      if (!image.valid(x + dx, y + dy)) continue;
      if (image.pixelColor(x + dx, y + dy).red() >= 60) return true;
    }
  }
  return false;
}

// A program's main window ("Ostrel") on screen: the largest of its visible
// windows of that name (the tray's balloon carries the same title).
struct ScreenWindow {
  std::string id;
  QPoint origin;
};
std::optional<ScreenWindow> MainWindow(pid_t pid) {
  std::optional<ScreenWindow> best;
  long bestArea = 0;
  for (const std::string& window : test::VisibleWindows(pid, "^Ostrel$")) {
    const std::string geometry = test::Xdotool("getwindowgeometry --shell " + window);
    std::map<std::string, int> values;
    size_t from = 0;
    while (from < geometry.size()) {
      size_t lineEnd = geometry.find('\n', from);
      std::string line = geometry.substr(from, lineEnd - from);
      from = lineEnd == std::string::npos ? geometry.size() : lineEnd + 1;
      size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    }
    long area = static_cast<long>(values["WIDTH"]) * values["HEIGHT"];
    if (area > bestArea) {
      bestArea = area;
      best = ScreenWindow{window, QPoint(values["X"], values["Y"])};
    }
  }
  return best;
}

std::optional<QPoint> MainWindowOrigin(pid_t pid) {
  auto window = MainWindow(pid);
  return window ? std::optional<QPoint>(window->origin) : std::nullopt;
}

class LinuxEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "e2e_linux_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }

  void SetUp() override {
    ASSERT_TRUE(home_.Ok());
    // The programs get a home of their own: lock, pictures, temporary files.
    fs::create_directories(home_.Path() / "run");
    fs::create_directories(home_.Path() / "tmp");
    ::chmod((home_.Path() / "run").c_str(), 0700);
    setenv("HOME", home_.Path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home_.Path() / "run").c_str(), 1);
    setenv("TMPDIR", (home_.Path() / "tmp").c_str(), 1);
    // The built-in addresses, whatever settings the machine's user has; the
    // support log inside the test's home.
    setenv("XDG_CONFIG_HOME", (home_.Path() / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home_.Path() / "state").c_str(), 1);
    dataDir_ = home_.Path() / "data";

    pattern_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pattern_));
    Pump(300);

    // A notification area for the tray icon, where one can be had.
    if (access("/usr/bin/trayer", X_OK) == 0) {
      tray_.Start("/usr/bin/trayer", {"trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                                      "pixel", "--width", "200", "--heighttype", "pixel", "--height", "24"});
    }

    StartService();
    if (HasFatalFailure()) return;
    // Its request log is read as it comes, so that it never fills the pipe
    // and stalls the service.
    QObject::connect(&drain_, &QTimer::timeout, [this] {
      while (service_ && service_->ReadLine(0)) {
      }
    });
    drain_.start(200);

    ASSERT_TRUE(program_.Start(PARLEX_PROGRAM_PATH, {"parlex"}));
    ASSERT_TRUE(WaitFor([] { return LastReport("loaded").has_value(); }, 60000))
        << "the agent page never loaded";
  }

  void StartService() {
    service_ = StartDemoService(dataDir_);
    ASSERT_TRUE(service_) << "the demo service did not start (is port 18380 taken?)";
  }

  // Stops the service as its owner would (SIGTERM) and starts it again over
  // the same data folder.
  void RestartService() {
    service_->Signal(SIGTERM);
    auto status = service_->Wait(10000);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "the service did not stop cleanly";
    StartService();
  }

  void TearDown() override {
    program_.Signal(SIGTERM);
    program_.Wait(5000);
    if (service_) {
      service_->Signal(SIGTERM);
      service_->Wait(5000);
    }
    tray_.Signal(SIGTERM);
    tray_.Wait(5000);
  }

  TempDir home_{"e2e"};
  fs::path dataDir_;
  PatternWindow pattern_;
  ChildProcess tray_;
  std::unique_ptr<ChildProcess> service_;
  QTimer drain_;
  ChildProcess program_;
};

TEST_F(LinuxEndToEnd, AVisitorAsksAndSeesTheAgentsMarkedUpCapture) {
  const json loaded = *LastReport("loaded");
  EXPECT_EQ(loaded["embeded"], true) << loaded.dump();
  ASSERT_TRUE(WaitFor([&] { return MainWindowOrigin(program_.Pid()).has_value(); }, 20000));

  // Two visitors, each in a browser context of its own.
  HeadlessChromium browser;
  ASSERT_TRUE(browser.Start()) << "chromium did not start (scripts/setup installs it):\n" << browser.Log();
  const std::string visitorPage = "http://127.0.0.1:" + std::to_string(kChatPort) + "/visitor";
  const std::string asker = browser.Open(visitorPage, false);
  const std::string other = browser.Open(visitorPage, true);
  ASSERT_FALSE(asker.empty() || other.empty());
  auto visitorIdOf = [&](const std::string& tab) {
    std::optional<json> id;
    WaitFor([&] { return (id = browser.Evaluate(tab, "me && me.visitorId")) && id->is_number(); }, 20000);
    return id && id->is_number() ? id->get<int>() : 0;
  };
  const int visitorId = visitorIdOf(asker);
  const int otherId = visitorIdOf(other);
  ASSERT_TRUE(visitorId > 0 && otherId > 0 && visitorId != otherId) << visitorId << " " << otherId;
  auto pageText = [&](const std::string& tab) {
    auto text = browser.Evaluate(tab, "document.getElementById('messages').textContent");
    return text && text->is_string() ? text->get<std::string>() : std::string();
  };
  ASSERT_TRUE(browser.Evaluate(asker, "document.getElementById('text').focus(), 1"));
  ASSERT_TRUE(browser.Type(asker, "你好", true));
  ASSERT_TRUE(browser.Evaluate(other, "document.getElementById('text').focus(), 1"));
  ASSERT_TRUE(browser.Type(other, "我是另一位访客", true));
  ASSERT_TRUE(WaitFor([&] { return pageText(other).find("我是另一位访客") != std::string::npos; }, 10000));

  // The agent makes the window large enough for the chat (as a window
  // manager would on a drag of its border; Xvfb has none) and chooses the
  // asker's conversation.
  const std::string window = MainWindow(program_.Pid())->id;
  Xdotool({"windowsize", window, "1000", "720"});
  Xdotool({"windowmove", window, "120", "80"});
  std::optional<json> layout;
  ASSERT_TRUE(WaitFor(
      [&] {
        layout = LastLayout();
        return layout && (*layout)["width"].get<int>() > 800 && ConversationRect(*layout, visitorId) &&
               ConversationRect(*layout, otherId);
      },
      20000))
      << (layout ? layout->dump() : "no layout");
  Pump(1000);  // the list settles; its last layout is the one on screen
  layout = LastLayout();
  ASSERT_TRUE(WaitFor([&] { return MainWindowOrigin(program_.Pid()).has_value(); }, 10000));
  const QPoint origin = *MainWindowOrigin(program_.Pid());
  const QPoint conversation = Centre(origin, *ConversationRect(*layout, visitorId));
  Click(conversation.x(), conversation.y());
  ASSERT_TRUE(WaitFor(
      [&] {
        auto shown = LastReport("shown");
        return shown && (*shown)["visitorId"] == visitorId &&
               (*shown)["texts"].dump().find("你好") != std::string::npos;
      },
      10000))
      << "the agent page did not show the visitor's message";

  // The agent answers in the reply box; the visitor sees it.
  const QPoint replyBox = Centre(origin, (*layout)["reply"]);
  Click(replyBox.x(), replyBox.y());
  Xdotool({"type", "--delay", "30", "'OK, one moment'"});
  Xdotool({"key", "Return"});
  ASSERT_TRUE(WaitFor([&] { return pageText(asker).find("OK, one moment") != std::string::npos; }, 10000))
      << pageText(asker);

  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR")) {
    RunProgram("/usr/bin/import", {"import", "-window", "root", std::string(dir) + "/e2e_agent_replied.png"},
               20000);
  }
  const QPoint captureButton = Centre(origin, (*layout)["capture"]);
  const int buttonX = captureButton.x();
  const int buttonY = captureButton.y();

  // The page's capture button: the window steps aside and the screen freezes.
  std::printf("capture button at %d,%d (window at %d,%d)\n", buttonX, buttonY, origin.x(), origin.y());
  Click(buttonX, buttonY);
  Pump(1500);
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR")) {
    RunProgram("/usr/bin/import", {"import", "-window", "root", std::string(dir) + "/e2e_capture_open.png"},
               20000);
  }
  // The selection (100, 100)-(500, 400); its toolbar lands below it, ending
  // at its right edge: ten cells of 50 x 30 from x = 0 at y = 405.
  Drag(100, 100, 500, 400);
  Click(125, 420);  // "箭头"
  Drag(150, 150, 300, 250);
  Click(25, 420);  // "矩形"
  Drag(320, 140, 460, 300);
  Click(275, 420);  // "文字"
  Click(120, 330);
  Xdotool({"type", "--delay", "50", "OK"});
  Pump(300);
  Click(450, 380);  // a second press closes the editor and commits the text
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR")) {
    RunProgram("/usr/bin/import", {"import", "-window", "root", std::string(dir) + "/e2e_capture_marked.png"},
               20000);
  }
  Click(475, 420);  // "发送"

  ASSERT_TRUE(WaitFor([] { return LastReport("captureReturned").has_value(); }, 30000))
      << "capture never returned";
  // onFileSent ran inside the page's capture call, before it returned: the
  // page counted it when the call came back. (The reports themselves may
  // reach the service in either order.)
  ASSERT_TRUE(WaitFor([] { return LastReport("fileSent").has_value(); }, 10000));
  const json returned = *LastReport("captureReturned");
  EXPECT_EQ(returned["sent"], 1) << returned.dump();
  EXPECT_EQ(returned["visitorId"], visitorId);
  EXPECT_EQ(CountReports("fileSent"), 1u);
  const json fileSent = *LastReport("fileSent");
  const json reply = json::parse(fileSent["reply"].get<std::string>(), nullptr, false);
  ASSERT_FALSE(reply.is_discarded()) << fileSent.dump();
  EXPECT_EQ(reply["width"], 400);
  EXPECT_EQ(reply["height"], 300);
  EXPECT_EQ(reply["companyId"], 12);
  EXPECT_EQ(reply["visitorId"], visitorId);

  // What the service stored: the selection's pixels with the marks in red.
  std::vector<fs::path> stored = StoredImages(dataDir_);
  ASSERT_EQ(stored.size(), 1u);
  QImage image(QString::fromStdString(stored[0].string()));
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR")) image.save(QString(dir) + "/e2e_stored.png");
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(400, 300));
  EXPECT_TRUE(RedNear(image, 125, 100)) << "arrow shaft";  // (150,150)->(300,250), halfway
  EXPECT_TRUE(RedNear(image, 199, 149, 4)) << "arrow head";
  EXPECT_TRUE(RedNear(image, 220, 120)) << "rectangle, left side";
  EXPECT_TRUE(RedNear(image, 290, 40)) << "rectangle, top side";
  EXPECT_TRUE(RedNear(image, 25, 238, 8)) << "text";
  EXPECT_FALSE(RedNear(image, 100, 250, 6)) << "red where nothing was drawn";
  for (QPoint p : {QPoint(30, 20), QPoint(380, 280), QPoint(10, 290), QPoint(180, 60)}) {
    EXPECT_TRUE(Close(image.pixelColor(p), PatternAt(p.x() + 100, p.y() + 100), 40))
        << p.x() << "," << p.y() << " is " << image.pixelColor(p).name().toStdString();
  }

  // The visitor's page shows it at the selection's size; the other
  // visitor's shows nothing of this conversation.
  const std::string imageSize =
      "(function () { var i = document.querySelector('#messages img'); if (!i || !i.complete) return '';"
      " var r = i.getBoundingClientRect();"
      " return i.naturalWidth + 'x' + i.naturalHeight + ' ' + r.width + 'x' + r.height; })()";
  ASSERT_TRUE(WaitFor([&] { return browser.Evaluate(asker, imageSize) != json(""); }, 10000));
  EXPECT_EQ(browser.Evaluate(asker, imageSize), json("400x300 400x300"));
  EXPECT_EQ(browser.Evaluate(asker, "document.querySelector('#messages img').src"),
            json("http://127.0.0.1:" + std::to_string(kChatPort) + reply["url"].get<std::string>()));
  if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR")) {
    for (auto [tab, name] : {std::pair{asker, "/e2e_visitor.png"}, {other, "/e2e_other_visitor.png"}}) {
      QFile file(QString(dir) + name);
      if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray::fromBase64(QByteArray::fromStdString(browser.Screenshot(tab))));
    }
  }
  EXPECT_EQ(browser.Evaluate(other, "document.querySelectorAll('#messages img').length"), json(0));
  EXPECT_EQ(pageText(other).find("你好"), std::string::npos);
  EXPECT_EQ(pageText(other).find("OK, one moment"), std::string::npos);

  // The service restarted in the middle: the visitor's page, reloaded, is
  // the same visitor with the whole conversation and its image, and the
  // agent's page goes on by itself.
  RestartService();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(browser.Evaluate(asker, "location.reload(), 1"));
  ASSERT_TRUE(WaitFor(
      [&] {
        auto id = browser.Evaluate(asker, "me && me.visitorId");
        return id == json(visitorId) && browser.Evaluate(asker, imageSize) == json("400x300 400x300");
      },
      20000));
  EXPECT_NE(pageText(asker).find("你好"), std::string::npos);
  EXPECT_NE(pageText(asker).find("OK, one moment"), std::string::npos);
  ASSERT_TRUE(WaitFor([&] { return MainWindowOrigin(program_.Pid()).has_value(); }, 10000));
  const QPoint replyAgain = Centre(*MainWindowOrigin(program_.Pid()), (*layout)["reply"]);
  Click(replyAgain.x(), replyAgain.y());
  Xdotool({"type", "--delay", "30", "'after the restart'"});
  Xdotool({"key", "Return"});
  EXPECT_TRUE(WaitFor([&] { return pageText(asker).find("after the restart") != std::string::npos; }, 10000))
      << pageText(asker);

  // Esc: nothing is sent and the page hears nothing but the call's return.
  // (The service's log of the page's reports began again with its restart.)
  const size_t returnedBefore = CountReports("captureReturned");
  const size_t sent = CountReports("fileSent");
  Click(buttonX, buttonY);
  Pump(1500);
  Drag(600, 600, 700, 700);
  Xdotool({"key", "Escape"});
  ASSERT_TRUE(WaitFor([&] { return CountReports("captureReturned") == returnedBefore + 1; }, 20000));
  EXPECT_EQ((*LastReport("captureReturned"))["sent"], 1) << "onFileSent called after Esc";
  EXPECT_EQ(CountReports("fileSent"), sent);
  EXPECT_EQ(StoredImages(dataDir_).size(), 1u);

  // The page's quit ends the program with 0.
  const json quit = (*layout)["quit"];
  ASSERT_TRUE(WaitFor([&] { return MainWindowOrigin(program_.Pid()).has_value(); }, 10000));
  const QPoint back = *MainWindowOrigin(program_.Pid());
  Click(back.x() + quit["x"].get<int>() + quit["width"].get<int>() / 2,
        back.y() + quit["y"].get<int>() + quit["height"].get<int>() / 2);
  std::optional<int> status = program_.Wait(20000);
  ASSERT_TRUE(status.has_value()) << "quit did not end the program";
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);

  // The support log tells the run, in order, and holds nothing of the
  // picture or of what the service answered.
  const std::string supportLog = TempDir::Read(home_.Path() / "state/parlex/parlex.log");
  const std::regex run(
      " INFO start Parlex 1\\.0\\.1\\.0, linux build, .*chat http://127\\.0\\.0\\.1:18380/ \\(from "
      "built-in\\);"
      "[\\s\\S]*\n.* INFO update checking http://127\\.0\\.0\\.1:18380/update/\n"
      "[\\s\\S]* INFO capture sent, HTTP 200, \\d+ bytes, \\d+ ms\n"
      "[\\s\\S]* INFO capture cancelled\n"
      "[\\s\\S]* INFO exit exit code 0\n$");
  EXPECT_TRUE(std::regex_search(supportLog, run)) << supportLog;
  EXPECT_EQ(supportLog.find("JFIF"), std::string::npos);
  EXPECT_EQ(supportLog.find("companyId"), std::string::npos);
}

}  // namespace
}  // namespace parlex::test
