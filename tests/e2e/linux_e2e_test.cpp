// The agent's main job on Linux, end to end and with nothing faked: the demo
// chat service on the program's built-in address, a notification area, the
// real program showing the agent page, and real pointer and key input. The
// page's capture button freezes a known pattern on screen; a selection, an
// arrow, a rectangle and a text are drawn and "发送" sends it: the service
// stores a JPEG of the selection with red where the shapes are, and the page
// gets the service's reply through onFileSent before its capture call
// returns. Then Esc (nothing sent, nothing called back) and the page's quit.
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
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
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/x11_display.h"

namespace parlex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kChatPort = 18380;  // the built-in chat address's port

// The colour of the pattern at a screen point: blocks of 64 pixels with no
// red in them, so the annotations stand out.
QColor PatternAt(int x, int y) {
  const int bx = x / 64;
  const int by = y / 64;
  return QColor(0, 60 + (bx * 37) % 150, 90 + (by * 53) % 160);
}

class PatternWindow : public QWidget {
 public:
  PatternWindow() {
    setWindowFlags(Qt::FramelessWindowHint);
    setGeometry(0, 0, 1920, 1080);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    for (int y = 0; y < height(); y += 64)
      for (int x = 0; x < width(); x += 64) painter.fillRect(x, y, 64, 64, PatternAt(x, y));
  }
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

// The agent page's reports, as the service keeps them.
std::vector<json> AgentLog() {
  httplib::Client client("127.0.0.1", kChatPort);
  client.set_connection_timeout(2);
  client.set_read_timeout(5);
  auto res = client.Get("/agent-log");
  if (!res || res->status != 200) return {};
  json body = json::parse(res->body, nullptr, false);
  if (body.is_discarded()) return {};
  std::vector<json> reports;
  for (const json& entry : body["entries"]) reports.push_back(entry["report"]);
  return reports;
}

std::optional<json> LastReport(const std::string& event) {
  std::vector<json> log = AgentLog();
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if ((*it)["event"] == event) return *it;
  }
  return std::nullopt;
}

size_t CountReports(const std::string& event) {
  size_t n = 0;
  for (const json& r : AgentLog()) n += r["event"] == event ? 1 : 0;
  return n;
}

std::vector<fs::path> StoredImages(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
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

bool Close(const QColor& a, const QColor& b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

// The top-left corner of a program's main window ("Ostrel") on screen: the
// largest of its visible windows of that name (the tray's balloon carries
// the same title).
std::optional<QPoint> MainWindowOrigin(pid_t pid) {
  std::optional<QPoint> best;
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
      best = QPoint(values["X"], values["Y"]);
    }
  }
  return best;
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
    dataDir_ = home_.Path() / "data";

    pattern_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pattern_));
    Pump(300);

    // A notification area for the tray icon, where one can be had.
    if (access("/usr/bin/trayer", X_OK) == 0) {
      tray_.Start("/usr/bin/trayer", {"trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                                      "pixel", "--width", "200", "--heighttype", "pixel", "--height", "24"});
    }

    // The built-in address's port may still be held for a moment by a test
    // that ran just before this one.
    std::optional<std::string> first;
    for (int attempt = 0; attempt < 20 && !first; ++attempt) {
      if (attempt > 0) Pump(1000);
      service_ = std::make_unique<ChildProcess>();
      ASSERT_TRUE(service_->Start(
          PARLEX_DEMO_SERVICE_PATH,
          {"parlex-demo-service", "--port", std::to_string(kChatPort), "--data-dir", dataDir_.string()}));
      first = service_->ReadLine(10000);
    }
    ASSERT_TRUE(first.has_value()) << "the demo service did not start (is port 18380 taken?)";
    ASSERT_NE(first->find("listening on http://127.0.0.1:18380/"), std::string::npos) << *first;
    // The rest of its output is its request log; it is read at the end.

    ASSERT_TRUE(program_.Start(PARLEX_PROGRAM_PATH, {"parlex"}));
    ASSERT_TRUE(WaitFor([] { return LastReport("loaded").has_value(); }, 60000))
        << "the agent page never loaded";
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
  ChildProcess program_;
};

TEST_F(LinuxEndToEnd, CaptureSentFromTheAgentPageThenEscThenQuit) {
  const json loaded = *LastReport("loaded");
  EXPECT_EQ(loaded["embeded"], true) << loaded.dump();
  ASSERT_TRUE(WaitFor([&] { return MainWindowOrigin(program_.Pid()).has_value(); }, 20000));
  const QPoint origin = *MainWindowOrigin(program_.Pid());
  const json button = loaded["capture"];
  const int buttonX = origin.x() + button["x"].get<int>() + button["width"].get<int>() / 2;
  const int buttonY = origin.y() + button["y"].get<int>() + button["height"].get<int>() / 2;

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
  // onFileSent ran inside the page's capture call, before it returned.
  std::vector<json> log = AgentLog();
  std::vector<std::string> events;
  for (const json& r : log) events.push_back(r["event"]);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[events.size() - 2], "fileSent");
  EXPECT_EQ(events.back(), "captureReturned");
  const json reply = json::parse(log[log.size() - 2]["reply"].get<std::string>(), nullptr, false);
  ASSERT_FALSE(reply.is_discarded()) << log[log.size() - 2].dump();
  EXPECT_EQ(reply["width"], 400);
  EXPECT_EQ(reply["height"], 300);
  EXPECT_EQ(reply["companyId"], 12);
  EXPECT_EQ(reply["visitorId"], 34);

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

  // Esc: nothing is sent and the page hears nothing but the call's return.
  const size_t returned = CountReports("captureReturned");
  Click(buttonX, buttonY);
  Pump(1500);
  Drag(600, 600, 700, 700);
  Xdotool({"key", "Escape"});
  ASSERT_TRUE(WaitFor([&] { return CountReports("captureReturned") == returned + 1; }, 20000));
  EXPECT_EQ(CountReports("fileSent"), 1u);
  EXPECT_EQ(StoredImages(dataDir_).size(), 1u);

  // The page's quit ends the program with 0.
  const json quit = loaded["quit"];
  ASSERT_TRUE(WaitFor([&] { return MainWindowOrigin(program_.Pid()).has_value(); }, 10000));
  const QPoint back = *MainWindowOrigin(program_.Pid());
  Click(back.x() + quit["x"].get<int>() + quit["width"].get<int>() / 2,
        back.y() + quit["y"].get<int>() + quit["height"].get<int>() / 2);
  std::optional<int> status = program_.Wait(20000);
  ASSERT_TRUE(status.has_value()) << "quit did not end the program";
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace
}  // namespace parlex::test
