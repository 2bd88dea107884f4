// The Linux program's start with its update check: a copy of the built
// program is started against a loopback update server on the program's own
// update address, and its boxes are answered from outside with xdotool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "parlex_config.h"
#include "support/loopback_server.h"
#include "update/posix/http_get.h"
#include "update/posix/update_platform_posix.h"

extern char** environ;

// Two calls of Xlib, declared here: its header's macros clash with the test framework.
extern "C" {
struct _XDisplay;
_XDisplay* XOpenDisplay(const char* name);
int XCloseDisplay(_XDisplay* display);
}

namespace parlex::update {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::LoopbackServer;
using test::Reply;

constexpr auto kWindowTimeout = milliseconds(30000);
constexpr auto kExitTimeout = milliseconds(10000);

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Output of a command, itself bounded by `timeout`.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(("timeout 10 " + command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  return out;
}

// Visible top-level windows of pid whose whole title is `title`.
std::vector<std::string> Windows(pid_t pid, const std::string& title) {
  std::string out =
      Shell("xdotool search --all --onlyvisible --pid " + std::to_string(pid) + " --name '^" + title + "$'");
  std::vector<std::string> ids;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) ids.push_back(line);
  }
  return ids;
}

template <typename Pred>
bool WaitFor(Pred done, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(100));
  }
  return true;
}

class ProgramUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    // Keep the X server from resetting between the programs this test starts.
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display";
    if (!posix::MachineHasNetwork()) GTEST_SKIP() << "the program counts this machine as offline";

    posix::HttpUrl url;
    ASSERT_TRUE(posix::SplitHttpUrl(ToUtf8(PARLEX_UPDATE_URL), &url));
    ASSERT_EQ(url.host, "127.0.0.1") << "the program's update address is not on this machine";
    updatePath_ = url.target.substr(1);
    // The address is the program's own; wait for an earlier user of the port to go.
    ASSERT_TRUE(WaitFor([&] { return server_.Start(url.port); }, milliseconds(20000)))
        << "port " << url.port << " stays busy";

    char pattern[] = "/tmp/parlex-update-program-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "tmp");
    fs::create_directory(dir_ / "run");
    chmod((dir_ / "run").c_str(), 0700);
    program_ = dir_ / "parlex";
    fs::copy_file(PARLEX_PROGRAM_PATH, program_);
    chmod(program_.c_str(), 0755);
    original_ = ReadAll(program_);
    newProgram_ = std::string(
                      "\x7f"
                      "ELF",
                      4) +
                  std::string(200000, 'n');
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    server_.Stop();
    if (!dir_.empty()) {
      if (HasFailure()) std::fprintf(stderr, "--- program output:\n%s\n", ReadAll(dir_ / "log").c_str());
      fs::remove_all(dir_);
    }
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  void Serve(Reply version, Reply program) {
    server_.Set(updatePath_ + "update.txt", std::move(version));
    server_.Set(updatePath_ + "parlex", std::move(program));
  }

  void Start() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      if (entry.rfind("TMPDIR=", 0) == 0 || entry.rfind("XDG_RUNTIME_DIR=", 0) == 0) continue;
      env.push_back(entry);
    }
    env.push_back("TMPDIR=" + (dir_ / "tmp").string());
    // A lock of its own: other copies of the program on this machine are not ours.
    env.push_back("XDG_RUNTIME_DIR=" + (dir_ / "run").string());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = program_.string();
    char* argv[] = {path.data(), nullptr};
    std::string log = (dir_ / "log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    ASSERT_EQ(posix_spawn(&pid_, path.c_str(), &actions, &attr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    started_ = Clock::now();
  }

  // Waits for a box with this title and presses a key in it.
  bool Answer(const std::string& title, const std::string& key) {
    std::vector<std::string> boxes;
    if (!WaitFor([&] { return !(boxes = Windows(pid_, title)).empty(); }, kWindowTimeout)) return false;
    // Seen while the box is up: the program has no main window.
    EXPECT_TRUE(Windows(pid_, "Ostrel").empty());
    Shell("xdotool windowfocus --sync " + boxes.front());
    Shell("xdotool key --clearmodifiers " + key);
    return WaitFor([&] { return Windows(pid_, title).empty(); }, milliseconds(10000));
  }

  bool MainWindowComesUp() {
    return WaitFor([&] { return !Windows(pid_, "Ostrel").empty(); }, kWindowTimeout);
  }

  // The exit code, or -1 when it did not end in time.
  int WaitForExit() {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, kExitTimeout)) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }

  _XDisplay* display_ = nullptr;
  LoopbackServer server_;
  std::string updatePath_;
  fs::path dir_;
  fs::path program_;
  std::string original_;
  std::string newProgram_;
  pid_t pid_ = 0;
  Clock::time_point started_;
};

TEST_F(ProgramUpdate, InstallEndsWithTheRestartMessageAndNoMainWindow) {
  Serve(Reply{200, "1.0.1.1"}, Reply{200, newProgram_});
  Start();
  ASSERT_TRUE(Answer("更新提醒", "Return")) << "no update question";
  ASSERT_TRUE(Answer("自动更新提醒", "Return")) << "no restart message";
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_TRUE(ReadAll(program_) == newProgram_);
  EXPECT_TRUE(ReadAll(dir_ / ".旧版本") == original_);
  struct stat st {};
  ASSERT_EQ(stat(program_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  std::vector<std::string> requests = server_.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /" + updatePath_ + "update.txt HTTP/1.0");
  EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /" + updatePath_ + "parlex HTTP/1.0");
}

TEST_F(ProgramUpdate, DeclinedStartsTheMainWindow) {
  Serve(Reply{200, "1.0.1.1"}, Reply{200, newProgram_});
  Start();
  ASSERT_TRUE(Answer("更新提醒", "Escape")) << "no update question";
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(ReadAll(program_) == original_);
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "parlex"));
}

TEST_F(ProgramUpdate, NothingNewerStartsTheMainWindow) {
  Serve(Reply{200, "1.0.1.0"}, Reply{200, newProgram_});
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(Windows(pid_, "更新提醒").empty());
  EXPECT_TRUE(ReadAll(program_) == original_);
}

TEST_F(ProgramUpdate, BrokenDownloadStartsTheMainWindow) {
  Serve(Reply{200, "1.0.1.1"}, Reply{200, newProgram_.substr(0, 1000), 200004});
  Start();
  ASSERT_TRUE(Answer("更新提醒", "Return")) << "no update question";
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(Windows(pid_, "自动更新提醒").empty());
  EXPECT_TRUE(ReadAll(program_) == original_);
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "parlex"));
}

TEST_F(ProgramUpdate, SilentServerStillLetsTheProgramStart) {
  // The server holds the connection for a minute: only the check's own
  // bound lets the window come up within the wait.
  Serve(Reply{200, "", -2, true}, Reply{200, newProgram_});
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(ReadAll(program_) == original_);
}

}  // namespace
}  // namespace parlex::update
