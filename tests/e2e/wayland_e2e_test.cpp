// The whole program on a Wayland desktop, as an agent meets one: a private
// headless sway (tests/support/sway-run) showing a pattern as its
// background, the demo chat service with a visitor's conversation, the real
// program and real pointer input through sway's seat. The agent chooses the
// conversation in the page; its capture button freezes the screen, a
// selection is dragged and "发送" sends it to that conversation: the service
// stores a JPEG of the selection's size holding the pattern's pixels, not
// black. Once with the program on Wayland itself, once forced through
// Xwayland, where an X grab would read Xwayland's black root window.
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/child_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace parlex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uid_t kSwayUser = 65534;  // sway-run's compositor runs as nobody
constexpr int kCompanyId = 12;      // the visitor whose conversation the agent chooses
constexpr int kVisitorId = 34;

// Waits, answering the test's own bus objects meanwhile.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// A desktop's StatusNotifierWatcher, where tray items register.
class FakeWatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
  Q_PROPERTY(int ProtocolVersion READ Version)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)

 public:
  bool HostRegistered() const { return true; }
  int Version() const { return 0; }
  QStringList Items() const { return items; }
  QStringList items;

 public slots:
  void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
  void RegisterStatusNotifierHost(const QString&) {}
};

void Sway(const std::string& command) {
  ShellOutput("swaymsg " + command);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
}

void MoveTo(int x, int y) { Sway("seat - cursor set " + std::to_string(x) + " " + std::to_string(y)); }

void Click(int x, int y) {
  MoveTo(x, y);
  Sway("seat - cursor press button1");
  Sway("seat - cursor release button1");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// sway's cursor commands reach no window while a button is held: the moves
// of a drag come from the virtual pointer, as a mouse's would.
QSize g_desktop(1920, 1080);  // the desktop's size as the pointer sees it

void PointerMove(int x, int y) {
  RunProgram(PARLEX_VIRTUAL_POINTER_PATH,
             {"virtual-pointer", "move", std::to_string(x), std::to_string(y),
              std::to_string(g_desktop.width()), std::to_string(g_desktop.height())},
             5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

void Drag(int x1, int y1, int x2, int y2) {
  MoveTo(x1, y1);
  Sway("seat - cursor press button1");
  for (int i = 1; i <= 4; ++i) PointerMove(x1 + (x2 - x1) * i / 4, y1 + (y2 - y1) * i / 4);
  Sway("seat - cursor release button1");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
}

// What the screen shows now, read with grim into a file of `dir`.
QImage Screen(const fs::path& dir) {
  const fs::path file = dir / "screen.png";
  fs::remove(file);
  ShellOutput("grim '" + file.string() + "'");
  return QImage(QString::fromStdString(file.string()));
}

// A window of the program in sway's tree: its content rectangle on the
// desktop, how it is shown (xdg_shell or xwayland), whether full screen.
struct SwayWindow {
  int x = 0, y = 0, width = 0, height = 0;
  std::string shell;
  bool fullscreen = false;
};

void CollectWindows(const json& node, pid_t pid, std::vector<SwayWindow>* out) {
  if (node.value("pid", -1) == pid && node.contains("window_rect")) {
    const json& rect = node["rect"];
    const json& content = node["window_rect"];
    out->push_back({rect["x"].get<int>() + content["x"].get<int>(),
                    rect["y"].get<int>() + content["y"].get<int>(), content["width"].get<int>(),
                    content["height"].get<int>(), node.value("shell", ""),
                    node.value("fullscreen_mode", 0) != 0});
  }
  for (const char* children : {"nodes", "floating_nodes"})
    if (node.contains(children))
      for (const json& child : node[children]) CollectWindows(child, pid, out);
}

std::vector<SwayWindow> WindowsOf(pid_t pid) {
  const json tree = json::parse(ShellOutput("swaymsg -t get_tree -r"), nullptr, false);
  std::vector<SwayWindow> windows;
  if (!tree.is_discarded()) CollectWindows(tree, pid, &windows);
  return windows;
}

std::optional<SwayWindow> FullScreenWindowOf(pid_t pid) {
  for (const SwayWindow& w : WindowsOf(pid))
    if (w.fullscreen) return w;
  return std::nullopt;
}

// The dimmed snapshot the capture window shows before a selection: each
// channel blended half way towards grey 127.
QColor Dimmed(const QColor& c) {
  auto blend = [](int v) { return (v * 128 + 127 * 127) / 255; };
  return QColor(blend(c.red()), blend(c.green()), blend(c.blue()));
}

class WaylandEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "e2e_wayland_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* display = std::getenv("WAYLAND_DISPLAY");
    ASSERT_TRUE(std::getenv("SWAYSOCK") && runtime && display) << "run under tests/support/sway-run";
    // The programs get runtime folders of their own; the desktop's socket is
    // named by its full path.
    if (display[0] != '/') setenv("WAYLAND_DISPLAY", (fs::path(runtime) / display).c_str(), 1);
    ASSERT_TRUE(home_.Ok());
    // sway's user reads the background in here.
    ::chmod(home_.Path().c_str(), 0755);
    for (const char* dir : {"run", "tmp", "home"}) {
      fs::create_directories(home_.Path() / dir);
      ::chmod((home_.Path() / dir).c_str(), 0700);
    }
    dataDir_ = home_.Path() / "data";

    const fs::path background = home_.Path() / "pattern.png";
    ASSERT_TRUE(PatternImage(1920, 1080).save(QString::fromStdString(background.string())));
    ::chmod(background.c_str(), 0644);
    Sway("output '*' bg " + background.string() + " fill");
    ASSERT_TRUE(WaitFor(
        [&] {
          const QImage screen = Screen(home_.Path());
          return screen.size() == QSize(1920, 1080) &&
                 Close(screen.pixelColor(700, 500), PatternAt(700, 500), 4) &&
                 Close(screen.pixelColor(1900, 1060), PatternAt(1900, 1060), 4);
        },
        10000))
        << "the desktop does not show the pattern";

    // The seat's pointer, which sway's cursor commands then drive.
    ASSERT_TRUE(pointer_.Start(PARLEX_VIRTUAL_POINTER_PATH, {"virtual-pointer"}));
    ASSERT_EQ(pointer_.ReadLine(10000), std::optional<std::string>("ready"));
    // And a keyboard, there before the program starts: one made only for a
    // key press comes and goes before a client has set up its keys.
    ASSERT_TRUE(keyboard_.Start("/usr/bin/wtype", {"wtype", "-s", "600000"}));

    service_ = StartDemoService(dataDir_);
    ASSERT_TRUE(service_) << "the demo service did not start (is port 18380 taken?)";
    // A visitor's conversation, there when the page first lists them.
    httplib::Client client("127.0.0.1", kChatPort);
    const json visitor = {{"companyId", kCompanyId}, {"visitorId", kVisitorId}};
    const auto added = client.Post("/api/visitors", visitor.dump(), "application/json");
    ASSERT_TRUE(added && added->status == 201) << (added ? added->body : "no answer");
  }

  void TearDown() override {
    program_.Signal(SIGTERM);
    program_.Wait(5000);
    if (service_) {
      service_->Signal(SIGTERM);
      service_->Wait(5000);
    }
    pointer_.Signal(SIGTERM);
    pointer_.Wait(5000);
    keyboard_.Signal(SIGTERM);
    keyboard_.Wait(5000);
    // A second output a test made goes (sway keeps this for one made later).
    Sway("output HEADLESS-2 disable");
    Sway("output HEADLESS-1 scale 1");
    g_desktop = QSize(1920, 1080);
  }

  // The page loads in the program's window, shown the way `shell` says.
  void StartProgram(const std::vector<std::string>& command, const std::string& shell) {
    ASSERT_TRUE(program_.Start(command[0], command));
    ASSERT_TRUE(WaitFor([] { return LastReport("loaded").has_value(); }, 60000))
        << "the agent page never loaded";
    ASSERT_TRUE(WaitFor([&] { return !WindowsOf(program_.Pid()).empty(); }, 20000))
        << "no window on the desktop";
    EXPECT_EQ(WindowsOf(program_.Pid()).front().shell, shell);
  }

  // The visitor's conversation chosen in the page, then its capture button
  // clicked: the main window steps aside and a capture window covers the
  // whole output.
  void StartCapture(QRect output = QRect(0, 0, 1920, 1080)) {
    ASSERT_TRUE(WaitFor([&] { return MainWindow().has_value(); }, 10000)) << "the main window is not back";
    // A window just shown again takes a moment before its page takes clicks;
    // the page reports its controls again once the window's size settles.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::optional<json> layout;
    std::optional<SwayWindow> main;
    ASSERT_TRUE(WaitFor(
        [&] {
          layout = LastLayout();
          main = MainWindow();
          return layout && main && (*layout)["width"] == main->width && ConversationRect(*layout, kVisitorId);
        },
        10000))
        << (layout ? layout->dump() : "no layout") << " for a window " << (main ? main->width : 0) << " wide";
    const QPoint origin(main->x, main->y);
    const QPoint conversation = Centre(origin, *ConversationRect(*layout, kVisitorId));
    Click(conversation.x(), conversation.y());
    const QPoint button = Centre(origin, (*layout)["capture"]);
    Click(button.x(), button.y());
    ASSERT_TRUE(WaitFor([&] { return FullScreenWindowOf(program_.Pid()).has_value(); }, 15000))
        << "no capture window (the page refuses a capture with no conversation chosen)";
    const SwayWindow cover = *FullScreenWindowOf(program_.Pid());
    EXPECT_EQ(QRect(cover.x, cover.y, cover.width, cover.height), output);
    EXPECT_FALSE(MainWindow().has_value()) << "the main window stayed on screen";
  }

  std::optional<SwayWindow> MainWindow() {
    for (const SwayWindow& w : WindowsOf(program_.Pid()))
      if (!w.fullscreen) return w;
    return std::nullopt;
  }

  // A selection of (100, 100)-(500, 400) dragged with the pointer, "发送";
  // then what the service stored is checked.
  void CaptureAndSend() {
    StartCapture();
    if (HasFatalFailure()) return;

    // The capture window shows the desktop, dimmed.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const QImage frozen = Screen(home_.Path());
    if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR"))
      frozen.save(QString(dir) + "/wayland_capture_open.png");
    for (QPoint p : {QPoint(700, 500), QPoint(30, 1050), QPoint(1890, 20)})
      EXPECT_TRUE(Close(frozen.pixelColor(p), Dimmed(PatternAt(p.x(), p.y())), 6))
          << p.x() << "," << p.y() << " shows " << frozen.pixelColor(p).name().toStdString();

    // The toolbar lands below the selection, "发送" last, ending at x = 500.
    Drag(100, 100, 500, 400);
    if (const char* dir = std::getenv("PARLEX_SNAPSHOT_DIR"))
      Screen(home_.Path()).save(QString(dir) + "/wayland_selected.png");
    Click(475, 420);
    ASSERT_TRUE(WaitFor([] { return LastReport("captureReturned").has_value(); }, 30000))
        << "capture never returned";
    const std::optional<json> sent = LastReport("fileSent");
    ASSERT_TRUE(sent.has_value());
    const json reply = json::parse((*sent)["reply"].get<std::string>(), nullptr, false);
    ASSERT_FALSE(reply.is_discarded()) << sent->dump();
    EXPECT_EQ(reply["width"], 400);
    EXPECT_EQ(reply["height"], 300);
    EXPECT_EQ(reply["companyId"], kCompanyId);
    EXPECT_EQ(reply["visitorId"], kVisitorId);

    const std::vector<fs::path> stored = StoredImages(dataDir_);
    ASSERT_EQ(stored.size(), 1u);
    const QImage image(QString::fromStdString(stored[0].string()));
    ASSERT_EQ(image.size(), QSize(400, 300));
    for (QPoint p : {QPoint(0, 0), QPoint(30, 20), QPoint(200, 150), QPoint(380, 280), QPoint(399, 299)})
      EXPECT_TRUE(Close(image.pixelColor(p), PatternAt(p.x() + 100, p.y() + 100), 40))
          << p.x() << "," << p.y() << " is " << image.pixelColor(p).name().toStdString();
  }

  // Esc on the capture window (the keys through a virtual keyboard): the
  // capture ends, nothing is sent and the main window comes back.
  void CaptureThenEsc() {
    const size_t returned = CountReports("captureReturned");
    StartCapture();
    if (HasFatalFailure()) return;
    Drag(600, 600, 700, 700);
    ShellOutput("wtype -k Escape");
    ASSERT_TRUE(WaitFor([&] { return CountReports("captureReturned") == returned + 1; }, 20000))
        << "Esc did not end the capture";
    EXPECT_EQ(CountReports("fileSent"), 1u);
    EXPECT_EQ(StoredImages(dataDir_).size(), 1u);
    EXPECT_TRUE(
        WaitFor([&] { return MainWindow().has_value() && !FullScreenWindowOf(program_.Pid()); }, 10000))
        << "the main window did not come back";
  }

  TempDir home_{"e2e-wayland"};
  fs::path dataDir_;
  ChildProcess pointer_;
  ChildProcess keyboard_;
  std::unique_ptr<ChildProcess> service_;
  ChildProcess program_;
};

TEST_F(WaylandEndToEnd, OnWaylandItselfTheCaptureSendsThePattern) {
  const ScopedEnv home("HOME", (home_.Path() / "home").c_str());
  const ScopedEnv runtime("XDG_RUNTIME_DIR", (home_.Path() / "run").c_str());
  const ScopedEnv temp("TMPDIR", (home_.Path() / "tmp").c_str());
  const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  StartProgram({PARLEX_PROGRAM_PATH}, "xdg_shell");
  CaptureAndSend();
  if (!HasFatalFailure()) CaptureThenEsc();
}

TEST_F(WaylandEndToEnd, ThroughXwaylandTheCaptureSendsThePatternNotBlack) {
  // Xwayland serves sway's own user only: the program runs as that user,
  // in folders of its own.
  for (const char* dir : {"run", "tmp", "home"})
    ASSERT_EQ(::chown((home_.Path() / dir).c_str(), kSwayUser, kSwayUser), 0);
  const std::string uid = std::to_string(kSwayUser);
  StartProgram({"/usr/bin/setpriv", "--reuid", uid, "--regid", uid, "--clear-groups", "/usr/bin/env",
                "QT_QPA_PLATFORM=xcb", "HOME=" + (home_.Path() / "home").string(),
                "XDG_RUNTIME_DIR=" + (home_.Path() / "run").string(),
                "TMPDIR=" + (home_.Path() / "tmp").string(), PARLEX_PROGRAM_PATH},
               "xwayland");
  CaptureAndSend();
  if (!HasFatalFailure()) CaptureThenEsc();
}

TEST_F(WaylandEndToEnd, WithATrayWatcherTheTrayIconIsTheWayBack) {
  // A session bus of the test's own with a watcher on it.
  ChildProcess bus;
  ASSERT_TRUE(
      bus.Start("/usr/bin/dbus-daemon", {"dbus-daemon", "--session", "--nofork", "--print-address=1"}));
  const std::optional<std::string> address = bus.ReadLine(10000);
  ASSERT_TRUE(address.has_value());
  QDBusConnection connection = QDBusConnection::connectToBus(QString::fromStdString(*address), "watcher");
  FakeWatcher watcher;
  ASSERT_TRUE(
      connection.registerObject("/StatusNotifierWatcher", &watcher,
                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
  ASSERT_TRUE(connection.registerService("org.kde.StatusNotifierWatcher"));

  const ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", address->c_str());
  const ScopedEnv home("HOME", (home_.Path() / "home").c_str());
  const ScopedEnv runtime("XDG_RUNTIME_DIR", (home_.Path() / "run").c_str());
  const ScopedEnv temp("TMPDIR", (home_.Path() / "tmp").c_str());
  const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  StartProgram({PARLEX_PROGRAM_PATH}, "xdg_shell");
  ASSERT_TRUE(WaitFor([&] { return !watcher.items.isEmpty(); }, 10000)) << "no tray item registered";

  // Closing the window hides it (with a tray there is a way back)...
  ShellOutput("swaymsg '[pid=" + std::to_string(program_.Pid()) + "]' kill");
  EXPECT_TRUE(WaitFor([&] { return WindowsOf(program_.Pid()).empty(); }, 10000)) << "the window did not hide";
  EXPECT_FALSE(program_.Wait(0).has_value()) << "closing the window ended the program";
  // ...and a click on the tray icon shows it again.
  const QString item = watcher.items.front();
  const int slash = item.indexOf(u'/');
  QDBusMessage activate =
      QDBusMessage::createMethodCall(slash < 0 ? item : item.left(slash),
                                     slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash),
                                     "org.kde.StatusNotifierItem", "Activate");
  activate << 0 << 0;
  connection.call(activate, QDBus::NoBlock);
  EXPECT_TRUE(WaitFor([&] { return MainWindow().has_value(); }, 10000))
      << "the tray icon did not bring it back";

  program_.Signal(SIGTERM);
  program_.Wait(5000);
  connection.unregisterService("org.kde.StatusNotifierWatcher");
  QDBusConnection::disconnectFromBus("watcher");
  bus.Signal(SIGTERM);
  bus.Wait(5000);
}

TEST_F(WaylandEndToEnd, OnAScaledOutputTheSelectionIsInDevicePixels) {
  // Scale 2: the desktop is 960 x 540 to the pointer, 1920 x 1080 pixels.
  Sway("output HEADLESS-1 scale 2");
  g_desktop = QSize(960, 540);
  const ScopedEnv home("HOME", (home_.Path() / "home").c_str());
  const ScopedEnv runtime("XDG_RUNTIME_DIR", (home_.Path() / "run").c_str());
  const ScopedEnv temp("TMPDIR", (home_.Path() / "tmp").c_str());
  const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  StartProgram({PARLEX_PROGRAM_PATH}, "xdg_shell");
  StartCapture(QRect(0, 0, 960, 540));
  if (HasFatalFailure()) return;
  // (100, 100)-(300, 250) is (200, 200)-(600, 500) in pixels; "发送" is the
  // last cell of the toolbar below it, (550, 505)-(600, 535) in pixels.
  Drag(100, 100, 300, 250);
  Click(287, 260);
  ASSERT_TRUE(WaitFor([] { return LastReport("captureReturned").has_value(); }, 30000))
      << "capture never returned";
  const std::vector<fs::path> stored = StoredImages(dataDir_);
  ASSERT_EQ(stored.size(), 1u);
  const QImage image(QString::fromStdString(stored[0].string()));
  ASSERT_EQ(image.size(), QSize(400, 300));
  for (QPoint p : {QPoint(0, 0), QPoint(30, 20), QPoint(200, 150), QPoint(399, 299)})
    EXPECT_TRUE(Close(image.pixelColor(p), PatternAt(p.x() + 200, p.y() + 200), 40))
        << p.x() << "," << p.y() << " is " << image.pixelColor(p).name().toStdString();
}

// Last: sway keeps some of a second output's traces.
TEST_F(WaylandEndToEnd, OnASecondOutputTheCaptureCoversThatOutput) {
  // A second output of 1280 x 720 right of the first, in a colour of its
  // own, and the program's window on it.
  Sway("create_output");
  Sway("output HEADLESS-2 enable res 1280x720");
  Sway("output HEADLESS-2 bg '#204080' solid_color");
  const ScopedEnv home("HOME", (home_.Path() / "home").c_str());
  const ScopedEnv runtime("XDG_RUNTIME_DIR", (home_.Path() / "run").c_str());
  const ScopedEnv temp("TMPDIR", (home_.Path() / "tmp").c_str());
  const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  StartProgram({PARLEX_PROGRAM_PATH}, "xdg_shell");
  Sway("'[pid=" + std::to_string(program_.Pid()) + "]' move container to output HEADLESS-2");
  ASSERT_TRUE(WaitFor([&] { return MainWindow() && MainWindow()->x >= 1920; }, 10000));

  StartCapture(QRect(1920, 0, 1280, 720));
  if (HasFatalFailure()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const QImage frozen = Screen(home_.Path());
  for (QPoint p : {QPoint(1930, 300), QPoint(3190, 710)})
    EXPECT_TRUE(Close(frozen.pixelColor(p), Dimmed(QColor(0x20, 0x40, 0x80)), 6))
        << p.x() << "," << p.y() << " shows " << frozen.pixelColor(p).name().toStdString();
  EXPECT_TRUE(Close(frozen.pixelColor(700, 500), PatternAt(700, 500), 4)) << "the first output was covered";
  ShellOutput("wtype -k Escape");
  EXPECT_TRUE(WaitFor([] { return LastReport("captureReturned").has_value(); }, 20000))
      << "Esc did not end it";
  Sway("output HEADLESS-2 unplug");
}

}  // namespace
}  // namespace parlex::test

#include "wayland_e2e_test.moc"
