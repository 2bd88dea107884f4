// The real program as a deployment runs it: its addresses from the user's
// parlex.conf (never the built-in ones), a wrong setting refused before
// anything starts, and the support log of the run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/x11_display.h"

namespace parlex::app::qt {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <typename Pred>
bool WaitFor(Pred done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

bool Requested(test::LoopbackServer& server, const std::string& requestLineStart) {
  for (const std::string& head : server.Requests())
    if (head.rfind(requestLineStart, 0) == 0) return true;
  return false;
}

class DeploymentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (Xvfb)";
    ASSERT_TRUE(test::HoldXDisplay());
    ASSERT_TRUE(home_.Ok());
    fs::create_directories(home_.File("run"));
    ::chmod(home_.File("run").c_str(), 0700);
    fs::create_directories(home_.File("config/parlex"));
    conf_ = home_.File("config/parlex/parlex.conf");
    log_ = home_.File("state/parlex/parlex.log");
  }

  void TearDown() override {
    if (pid_ > 0) test::EndProgramGroup(pid_);
    if (HasFailure())
      std::fprintf(stderr, "--- program:\n%s\n", test::TempDir::Read(home_.File("out.log")).c_str());
  }

  // The program with this test's settings, log folder and lock.
  void Start(const std::string& stateHome) {
    pid_ = test::StartProgramGroup(
        PARLEX_PROGRAM_PATH,
        {"XDG_RUNTIME_DIR=" + home_.File("run").string(), "XDG_CONFIG_HOME=" + home_.File("config").string(),
         "XDG_STATE_HOME=" + stateHome},
        home_.File("out.log").string());
    ASSERT_GT(pid_, 0);
  }

  std::optional<int> WaitExit(int timeoutMs) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) return std::nullopt;
    kill(-pid_, SIGKILL);  // helpers left behind
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // A chat service whose agent page shows a secret, holds a frame of
  // another origin (with a secret in its query) and quits after a moment;
  // and an update server with nothing newer.
  void ServeChatAndUpdate() {
    ASSERT_TRUE(update_.Start());
    ASSERT_TRUE(chat_.Start());
    const std::string other = "http://localhost:" + std::to_string(update_.Port());
    test::ScriptedReply page = test::ScriptedReply::Text(
        "<!doctype html><title>agent</title><p>PAGE-SECRET visitor says hello</p>"
        "<iframe src=\"" +
        other +
        "/frame?token=QUERY-SECRET\"></iframe><script>"
        "setTimeout(function () { if (window.external.embeded == true) window.external.quit(); }, 2500);"
        "</script>");
    page.head = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
    chat_.Route("/embeded", page);
    test::ScriptedReply frame = test::ScriptedReply::Text("<!doctype html><p>frame</p>");
    frame.head = page.head;
    update_.Route("/frame?token=QUERY-SECRET", frame);
    update_.Set("parlex/update.txt", test::Reply{200, "1.0.1.0"});
  }

  test::TempDir home_{"deploy"};
  fs::path conf_;
  fs::path log_;
  test::LoopbackServer chat_;
  test::LoopbackServer update_;
  pid_t pid_ = -1;
};

TEST_F(DeploymentTest, TheUsersSettingsChooseBothServicesAndTheLogTellsTheRun) {
  ServeChatAndUpdate();
  // Without the trailing "/": the program adds it.
  const std::string chat = "http://127.0.0.1:" + std::to_string(chat_.Port());
  const std::string update = "http://127.0.0.1:" + std::to_string(update_.Port()) + "/parlex";
  home_.Write("config/parlex/parlex.conf", "# IT\nChatUrl=" + chat + "\nUpdateUrl=" + update + "\n");
  Start(home_.File("state").string());

  const std::optional<int> code = WaitExit(60000);
  ASSERT_TRUE(code.has_value()) << "the page's quit did not end the program";
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(Requested(update_, "GET /parlex/update.txt ")) << "the update check went elsewhere";
  EXPECT_TRUE(Requested(chat_, "GET /embeded ")) << "the agent page came from elsewhere";
  // The quit came through the bridge: it answers the configured origin.

  const std::string log = test::TempDir::Read(log_);
  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )";
  const std::string from = " \\(from " + conf_.string() + "\\)";
  for (const std::string& line :
       {stamp + "INFO start Parlex 1\\.0\\.1\\.0, linux build, on Linux .*; chat " +
            std::regex_replace(chat, std::regex("\\."), "\\.") + "/" + from + "; update " +
            std::regex_replace(update, std::regex("\\."), "\\.") + "/" + from,
        stamp + "INFO update server offers 1\\.0\\.1\\.0, this is 1\\.0\\.1\\.0: nothing newer",
        stamp + "WARN bridge refused embeded from http://localhost:" + std::to_string(update_.Port()),
        stamp + "INFO exit exit code 0"}) {
    EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)" + line + "\n"))) << line << "\nin:\n" << log;
  }
  EXPECT_EQ(log.find("SECRET"), std::string::npos) << log;
  EXPECT_EQ(fs::status(log_.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(DeploymentTest, AWrongSettingIsRefusedWithItsPlaceAndNothingStarts) {
  ASSERT_TRUE(chat_.Start());
  home_.Write("config/parlex/parlex.conf", "ChatUrl=http://127.0.0.1:" + std::to_string(chat_.Port()) +
                                               "/\nUpdateUrl=http://it:pw@update/\n");
  Start(home_.File("state").string());
  std::vector<std::string> boxes;
  ASSERT_TRUE(
      WaitFor([&] { return !(boxes = test::VisibleWindows(pid_, "^Parlex 设置错误$")).empty(); }, 30000))
      << "no message";
  std::optional<int> code;
  for (int attempt = 0; attempt < 10 && !code; ++attempt) {
    test::Xdotool("windowfocus " + boxes.front());
    test::Xdotool("key --clearmodifiers Return");
    code = WaitExit(1000);
  }
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 3);
  EXPECT_EQ(chat_.Connections(), 0u) << "the program went on";
  const std::string said =
      conf_.string() + ": UpdateUrl \"http://…@update/\" is not an absolute http or https";
  EXPECT_NE(test::TempDir::Read(home_.File("out.log")).find(said), std::string::npos);
  const std::string log = test::TempDir::Read(log_);
  EXPECT_NE(log.find("ERROR settings not started: " + said), std::string::npos) << log;
  EXPECT_NE(log.find("INFO exit exit code 3\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("pw"), std::string::npos) << log;
}

TEST_F(DeploymentTest, ALogThatCannotBeWrittenChangesNothingElse) {
  ServeChatAndUpdate();
  home_.Write("config/parlex/parlex.conf",
              "ChatUrl=http://127.0.0.1:" + std::to_string(chat_.Port()) +
                  "/\nUpdateUrl=http://127.0.0.1:" + std::to_string(update_.Port()) + "/parlex/\n");
  // A file where the log's folder would go: no user, root included, can
  // write a log there.
  const fs::path blocked = home_.Write("state", "not a folder");
  Start(blocked.string());
  const std::optional<int> code = WaitExit(60000);
  ASSERT_TRUE(code.has_value()) << "the page's quit did not end the program";
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(Requested(update_, "GET /parlex/update.txt "));
  EXPECT_TRUE(Requested(chat_, "GET /embeded "));
  EXPECT_EQ(test::TempDir::Read(blocked), "not a folder");
}

}  // namespace
}  // namespace parlex::app::qt
