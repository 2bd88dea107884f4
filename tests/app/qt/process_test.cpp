// The real program, started as the agent would start it, under the test's
// X display. Windows are found and dismissed with xdotool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/single_instance_lock.h"
#include "app/shell_texts.h"
#include "common/text.h"
#include "parlex_config.h"
#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/x11_display.h"

namespace parlex::app::qt {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kStartTimeout = milliseconds(30000);
constexpr auto kBoxTimeout = milliseconds(20000);
constexpr auto kExitTimeout = milliseconds(10000);

void Sleep(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

template <typename Pred>
bool WaitFor(Pred done, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return done();
    Sleep(100);
  }
  return true;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (Xvfb)";
    ASSERT_TRUE(parlex::test::HoldXDisplay()) << "X display does not answer";
    std::string pattern = (fs::temp_directory_path() / "parlex-run-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    runtimeDir_ = pattern;
  }

  void TearDown() override {
    if (HasFailure()) {
      // What the program said is the best clue to a failure here.
      for (size_t i = 0; i < spawned_; ++i) {
        std::fprintf(stderr, "--- program %zu:\n%s\n", i,
                     test::ShellOutput("tail -n 40 " + runtimeDir_ + "/program-" + std::to_string(i) + ".log")
                         .c_str());
      }
      std::fprintf(stderr, "--- windows:\n%s\n", test::Xdotool("search --onlyvisible --name .").c_str());
    }
    for (pid_t pid : started_) test::EndProgramGroup(pid);
    std::error_code ec;
    fs::remove_all(runtimeDir_, ec);
  }

  // Starts the program in its own process group, in this test's session.
  pid_t Start() {
    const std::string log = runtimeDir_ + "/program-" + std::to_string(spawned_++) + ".log";
    const pid_t pid = test::StartProgramGroup(PARLEX_PROGRAM_PATH, {"XDG_RUNTIME_DIR=" + runtimeDir_}, log);
    if (pid > 0) started_.push_back(pid);
    return pid;
  }

  // Exit status if the process ended within `timeout`.
  std::optional<int> WaitExit(pid_t pid, milliseconds timeout) {
    int status = 0;
    bool ended = WaitFor(
        [&] {
          const pid_t r = waitpid(pid, &status, WNOHANG);
          return r == pid;
        },
        timeout);
    if (!ended) return std::nullopt;
    std::erase(started_, pid);
    kill(-pid, SIGKILL);  // helpers left behind
    return status;
  }

  bool Running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

  // The message box of `pid`, once it shows (bounded); empty if it never did.
  std::string WaitForBox(pid_t pid) {
    std::vector<std::string> boxes;
    WaitFor(
        [&] {
          boxes = test::VisibleWindows(pid, "^提醒$");
          return !boxes.empty();
        },
        kBoxTimeout);
    return boxes.empty() ? std::string() : boxes.front();
  }

  // Presses Enter on the box the way the agent would, until `pid` ends
  // (bounded); answers its exit status.
  std::optional<int> DismissBox(const std::string& box, pid_t pid) {
    std::optional<int> status;
    for (int attempt = 0; attempt < 10 && !status; ++attempt) {
      test::Xdotool("windowfocus " + box);
      test::Xdotool("key --clearmodifiers Return");
      status = WaitExit(pid, milliseconds(1000));
    }
    return status;
  }

  bool LockHeldBySomeone() {
    SingleInstanceLock probe;
    return probe.Acquire(runtimeDir_ + "/Ostrel桌面登录程序.lock") ==
           SingleInstanceLock::Result::kAlreadyRunning;
  }

  std::string runtimeDir_;
  std::vector<pid_t> started_;
  size_t spawned_ = 0;
};

TEST_F(ProgramTest, SecondStartShowsItsMessageAndEndsWithZero) {
  const pid_t first = Start();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitFor([&] { return !test::VisibleWindows(first, "^Ostrel$").empty(); }, kStartTimeout))
      << "first copy shows no main window";
  EXPECT_TRUE(LockHeldBySomeone());

  const pid_t second = Start();
  ASSERT_GT(second, 0);
  const std::string box = WaitForBox(second);
  ASSERT_FALSE(box.empty()) << "second copy shows no message";
  // It waits for the agent, and it opens no main window of its own.
  Sleep(300);
  EXPECT_TRUE(Running(second));
  EXPECT_TRUE(test::VisibleWindows(second, "^Ostrel$").empty());

  const std::optional<int> status = DismissBox(box, second);
  ASSERT_TRUE(status.has_value()) << "second copy did not end after its message was dismissed";
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);

  // The running copy was left alone.
  EXPECT_TRUE(Running(first));
  EXPECT_FALSE(test::VisibleWindows(first, "^Ostrel$").empty());
  EXPECT_TRUE(LockHeldBySomeone());
}

TEST_F(ProgramTest, CrashedCopyDoesNotBlockTheNextStart) {
  const pid_t first = Start();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitFor([&] { return !test::VisibleWindows(first, "^Ostrel$").empty(); }, kStartTimeout));
  kill(first, SIGKILL);  // the program only: its helpers may linger a moment
  const auto status = WaitExit(first, kExitTimeout);
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFSIGNALED(*status));

  const pid_t next = Start();
  ASSERT_GT(next, 0);
  EXPECT_TRUE(WaitFor([&] { return !test::VisibleWindows(next, "^Ostrel$").empty(); }, kStartTimeout))
      << "next start shows no main window";
  EXPECT_TRUE(test::VisibleWindows(next, "^提醒$").empty());
  EXPECT_TRUE(Running(next));
  EXPECT_TRUE(LockHeldBySomeone());
}

TEST_F(ProgramTest, ClosingHidesTheWindowAndTheProgramKeepsRunning) {
  parlex::test::TrayHost tray;  // the way back to a hidden window
  ASSERT_TRUE(tray.Start());
  const pid_t program = Start();
  ASSERT_GT(program, 0);
  std::vector<std::string> windows;
  ASSERT_TRUE(WaitFor(
      [&] {
        windows = test::VisibleWindows(program, "^Ostrel$");
        return !windows.empty();
      },
      kStartTimeout));
  ASSERT_TRUE(parlex::test::SendCloseRequest(std::stoul(windows.front())));
  EXPECT_TRUE(WaitFor([&] { return test::VisibleWindows(program, "^Ostrel$").empty(); }, milliseconds(5000)))
      << "window still shown after the close request";
  Sleep(1000);
  EXPECT_TRUE(Running(program));

  // Hidden, it is still the running copy, and a second start leaves it hidden.
  const pid_t second = Start();
  ASSERT_GT(second, 0);
  const std::string box = WaitForBox(second);
  ASSERT_FALSE(box.empty());
  const std::optional<int> status = DismissBox(box, second);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(Running(program));
  EXPECT_TRUE(test::VisibleWindows(program, "^Ostrel$").empty());
}

// The suites' loopback server standing in for the chat service on its
// configured loopback address, with one page at the agent page's path. The
// address is shared with the other tests that take it (scripts/test runs
// them one at a time); one that just ended may hold it for a moment.
class ChatServiceStandIn {
 public:
  ChatServiceStandIn(const std::string& path,
                     std::string body = "<!doctype html><title>agent</title><p>agent page</p>") {
    test::ScriptedReply page = test::ScriptedReply::Text(std::move(body));
    page.head = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
    server_.Route(path, page);
  }
  bool Listen(uint16_t port) {
    return WaitFor([&] { return server_.Start(port); }, milliseconds(20000));
  }
  std::vector<std::string> requestLines() {
    std::vector<std::string> lines;
    for (const std::string& head : server_.Requests()) lines.push_back(head.substr(0, head.find("\r\n")));
    return lines;
  }

 private:
  test::LoopbackServer server_;
};

// The configured chat service's loopback port and the agent page's path;
// none when the chat service is not on loopback.
std::optional<std::pair<uint16_t, std::string>> ChatServiceOnLoopback() {
  const std::string base = ToUtf8(PARLEX_CHAT_URL);
  const std::string prefix = "http://127.0.0.1:";
  if (base.rfind(prefix, 0) != 0) return std::nullopt;
  const std::string rest = base.substr(prefix.size());
  const size_t slash = rest.find('/');
  const int port = std::atoi(rest.substr(0, slash).c_str());
  return std::make_pair(static_cast<uint16_t>(port), rest.substr(slash) + "embeded");
}

TEST_F(ProgramTest, OpensTheChatServicesAgentPage) {
  // Only when the configured chat service is on loopback and its port is ours
  // to take for this test.
  const auto chat = ChatServiceOnLoopback();
  if (!chat) GTEST_SKIP() << "chat service is not on loopback";
  const auto& [port, path] = *chat;
  ChatServiceStandIn service(path);
  ASSERT_TRUE(service.Listen(port)) << "port " << port << " stays busy";

  const pid_t program = Start();
  ASSERT_GT(program, 0);
  const std::string expected = "GET " + path + " HTTP/1.1";
  EXPECT_TRUE(WaitFor(
      [&] {
        for (const auto& line : service.requestLines()) {
          if (line == expected) return true;
        }
        return false;
      },
      kStartTimeout))
      << "no \"" << expected << "\" request";
  EXPECT_TRUE(Running(program));
}

TEST_F(ProgramTest, PagesQuitEndsTheProgramWithZero) {
  const auto chat = ChatServiceOnLoopback();
  if (!chat) GTEST_SKIP() << "chat service is not on loopback";
  ChatServiceStandIn service(
      chat->second,
      "<!doctype html><title>agent</title><script>"
      "setTimeout(function () { if (window.external.embeded == true) window.external.quit(); }, 300);"
      "</script>");
  ASSERT_TRUE(service.Listen(chat->first)) << "port " << chat->first << " stays busy";

  const pid_t program = Start();
  ASSERT_GT(program, 0);
  const std::optional<int> status = WaitExit(program, kStartTimeout);
  ASSERT_TRUE(status.has_value()) << "the page's quit did not end the program";
  EXPECT_FALSE(service.requestLines().empty());
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST_F(ProgramTest, ExitFromTheTrayMenuEndsTheProgramWithItsCommandId) {
  parlex::test::TrayHost tray;
  ASSERT_TRUE(tray.Start());
  const pid_t program = Start();
  ASSERT_GT(program, 0);
  int x = 0, y = 0;
  ASSERT_TRUE(tray.FirstIconCentre(x, y, 30000)) << "no icon in the notification area";
  ASSERT_TRUE(Running(program));

  // Right click on the icon, then the menu's last item, "退出".
  std::optional<int> status;
  for (int attempt = 0; attempt < 5 && !status; ++attempt) {
    parlex::test::Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y));
    Sleep(300);
    parlex::test::Xdotool("click 3");
    Sleep(500);
    parlex::test::Xdotool("key --clearmodifiers Up");
    Sleep(200);
    parlex::test::Xdotool("key --clearmodifiers Return");
    status = WaitExit(program, milliseconds(3000));
  }
  ASSERT_TRUE(status.has_value()) << "退出 did not end the program";
  EXPECT_TRUE(WIFEXITED(*status));
  // The process's exit status keeps the low 8 bits of the code.
  EXPECT_EQ(WEXITSTATUS(*status), kExitFromTrayMenu & 0xFF);
  EXPECT_TRUE(tray.WaitUntilEmpty()) << "the icon stayed in the notification area";
}

}  // namespace
}  // namespace parlex::app::qt
