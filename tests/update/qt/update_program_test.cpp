// The Linux program's start with its update check: a copy of the built
// program is started against an update server on the program's own update
// address, and its boxes are answered from outside with xdotool. The server
// is a scripted loopback server for the ways a check can go, and the demo
// chat service for the whole round trip to a build one version higher.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "parlex_config.h"
#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/x11_display.h"
#include "update/posix/http_get.h"
#include "update/posix/update_platform_posix.h"

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

// Visible top-level windows of pid whose whole title is `title`.
std::vector<std::string> Windows(pid_t pid, const std::string& title) {
  return test::VisibleWindows(pid, "^" + title + "$");
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

// A copy of the built program in a private folder, started there with a
// home, lock and temporary folder of its own.
class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // Keep the X server from resetting between the programs this test starts.
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr) << "no X display";
    if (!posix::MachineHasNetwork()) GTEST_SKIP() << "the program counts this machine as offline";
    ASSERT_TRUE(posix::SplitHttpUrl(ToUtf8(PARLEX_UPDATE_URL), &url_));
    ASSERT_EQ(url_.host, "127.0.0.1") << "the program's update address is not on this machine";

    ASSERT_TRUE(dir_.Ok());
    fs::create_directory(dir_.Path() / "tmp");
    fs::create_directory(dir_.Path() / "run");
    chmod((dir_.Path() / "run").c_str(), 0700);
    program_ = dir_.Path() / "parlex";
    fs::copy_file(PARLEX_PROGRAM_PATH, program_);
    chmod(program_.c_str(), 0755);
    original_ = ReadAll(program_);
  }

  void TearDown() override {
    test::EndProgramGroup(pid_);
    if (HasFailure() && dir_.Ok()) {
      std::fprintf(stderr, "--- program output:\n%s\n", ReadAll(dir_.Path() / "log").c_str());
    }
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  void Start() {
    // A lock of its own: other copies of the program on this machine are not ours.
    pid_ =
        test::StartProgramGroup(program_.string(),
                                {"HOME=" + dir_.Path().string(), "TMPDIR=" + (dir_.Path() / "tmp").string(),
                                 "XDG_RUNTIME_DIR=" + (dir_.Path() / "run").string()},
                                (dir_.Path() / "log").string());
    ASSERT_GT(pid_, 0);
  }

  // Waits for a box with this title and presses a key in it.
  // With `snapshot`, the screen is saved under that name into
  // $PARLEX_SNAPSHOT_DIR first, when that is set.
  bool Answer(const std::string& title, const std::string& key, const char* snapshot = nullptr) {
    std::vector<std::string> boxes;
    if (!WaitFor([&] { return !(boxes = Windows(pid_, title)).empty(); }, kWindowTimeout)) return false;
    // Seen while the box is up: the program has no main window.
    EXPECT_TRUE(Windows(pid_, "Ostrel").empty());
    const char* snapshotDir = std::getenv("PARLEX_SNAPSHOT_DIR");
    if (snapshot != nullptr && snapshotDir != nullptr) {
      test::ShellOutput("import -window root '" + std::string(snapshotDir) + "/" + snapshot + ".png'");
    }
    test::Xdotool("windowfocus --sync " + boxes.front());
    test::Xdotool("key --clearmodifiers " + key);
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
  posix::HttpUrl url_;
  test::TempDir dir_{"update-program"};
  fs::path program_;
  std::string original_;
  pid_t pid_ = 0;
};

// The ways a check can go, against a scripted loopback server.
class ProgramUpdate : public ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    updatePath_ = url_.target.substr(1);
    // The address is the program's own; wait for an earlier user of the port to go.
    ASSERT_TRUE(WaitFor([&] { return server_.Start(url_.port); }, milliseconds(20000)))
        << "port " << url_.port << " stays busy";
    newProgram_ = std::string(
                      "\x7f"
                      "ELF",
                      4) +
                  std::string(200000, 'n');
  }

  void TearDown() override {
    ProgramRun::TearDown();
    server_.Stop();
  }

  void Serve(Reply version, Reply program) {
    server_.Set(updatePath_ + "update.txt", std::move(version));
    server_.Set(updatePath_ + "parlex", std::move(program));
  }

  LoopbackServer server_;
  std::string updatePath_;
  std::string newProgram_;
};

TEST_F(ProgramUpdate, InstallEndsWithTheRestartMessageAndNoMainWindow) {
  Serve(Reply{200, "1.0.1.1"}, Reply{200, newProgram_});
  Start();
  ASSERT_TRUE(Answer("更新提醒", "Return")) << "no update question";
  ASSERT_TRUE(Answer("自动更新提醒", "Return")) << "no restart message";
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_TRUE(ReadAll(program_) == newProgram_);
  EXPECT_TRUE(ReadAll(dir_.Path() / ".旧版本") == original_);
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
  EXPECT_FALSE(fs::exists(dir_.Path() / "tmp" / "parlex"));
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
  EXPECT_FALSE(fs::exists(dir_.Path() / "tmp" / "parlex"));
}

TEST_F(ProgramUpdate, SilentServerStillLetsTheProgramStart) {
  // The server holds the connection for a minute: only the check's own
  // bound lets the window come up within the wait.
  Serve(Reply{200, "", -2, true}, Reply{200, newProgram_});
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(ReadAll(program_) == original_);
}

TEST_F(ProgramUpdate, EndlessProgramWithoutLengthFailsAndTheProgramGoesOn) {
  // A hostile server offers a newer version, then sends the program without
  // a length and without end (bounded here: it stops 32 MiB past the cap).
  const uint64_t cap = uint64_t{64} << 20;
  Serve(Reply{200, "1.0.1.1"},
        Reply{200, newProgram_.substr(0, 64), -1, false, 0, 0, cap + (uint64_t{32} << 20)});
  Start();
  ASSERT_TRUE(Answer("更新提醒", "Return")) << "no update question";
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0) << "the program ended";
  EXPECT_LT(server_.FillerSent(), cap + (uint64_t{24} << 20));
  EXPECT_TRUE(ReadAll(program_) == original_);
  for (const char* left : {".旧版本", ".新版本"}) EXPECT_FALSE(fs::exists(dir_.Path() / left)) << left;
  EXPECT_TRUE(fs::is_empty(dir_.Path() / "tmp"));
}

TEST_F(ProgramUpdate, LeftoversOfAKilledSwapAreClearedAtStart) {
  // What a swap killed after its last move leaves: the new program in
  // place, the old one and a staged copy beside it.
  std::ofstream(dir_.Path() / ".旧版本", std::ios::binary) << original_;
  std::ofstream(dir_.Path() / ".新版本", std::ios::binary) << original_.substr(0, 4096);
  Serve(Reply{200, "1.0.1.0"}, Reply{200, newProgram_});
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(ReadAll(program_) == original_);
  EXPECT_FALSE(fs::exists(dir_.Path() / ".旧版本"));
  EXPECT_FALSE(fs::exists(dir_.Path() / ".新版本"));
}

#ifdef PARLEX_DEMO_SERVICE_PATH
// The whole round trip against the demo chat service on the program's own
// address: it serves update.txt and a build of the program one version
// higher from a folder, and logs every request on its standard output.
class DemoServiceUpdate : public ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (url_.target != "/update/") GTEST_SKIP() << "the program's update address is not the demo service's";
    updates_ = dir_.Path() / "updates";
    fs::create_directory(updates_);
    // The port may still be held for a moment by a test that ran just before.
    std::optional<std::string> first;
    for (int attempt = 0; attempt < 60 && !first; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(milliseconds(1000));
      service_ = std::make_unique<test::ChildProcess>();
      ASSERT_TRUE(service_->Start(PARLEX_DEMO_SERVICE_PATH,
                                  {"parlex-demo-service", "--port", std::to_string(url_.port), "--data-dir",
                                   (dir_.Path() / "data").string(), "--update-dir", updates_.string()}));
      first = service_->ReadLine(10000);
    }
    ASSERT_TRUE(first.has_value()) << "the demo service did not start (port " << url_.port << " taken?)";
  }

  void TearDown() override {
    ProgramRun::TearDown();
    if (service_) service_->Signal(SIGTERM);
  }

  void Offer(const std::string& version, const fs::path& program) {
    std::ofstream(updates_ / "update.txt", std::ios::binary) << version;
    fs::copy_file(program, updates_ / "parlex", fs::copy_options::overwrite_existing);
  }

  // How often the service answered this request line with 200, up to its end.
  size_t Served(const std::string& request) {
    if (!log_) {
      service_->Signal(SIGTERM);
      log_ = service_->ReadToEnd(10000);
    }
    size_t n = 0;
    std::istringstream lines(*log_);
    for (std::string line; std::getline(lines, line);) n += line == request + " 200" ? 1 : 0;
    return n;
  }

  fs::path updates_;
  std::unique_ptr<test::ChildProcess> service_;
  std::optional<std::string> log_;
};

TEST_F(DemoServiceUpdate, UpdatesToTheNextBuildWhichThenStartsWithoutAsking) {
  const std::string next = ReadAll(PARLEX_NEXT_VERSION_PATH);
  ASSERT_FALSE(next.empty());
  ASSERT_TRUE(next != original_);
  Offer(PARLEX_NEXT_VERSION_TEXT, PARLEX_NEXT_VERSION_PATH);
  Start();
  ASSERT_TRUE(Answer("更新提醒", "Return", "update_question")) << "no update question";
  ASSERT_TRUE(Answer("自动更新提醒", "Return", "update_restart")) << "no restart message";
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_TRUE(ReadAll(program_) == next) << "the program on disk is not the new build";
  EXPECT_TRUE(ReadAll(dir_.Path() / ".旧版本") == original_) << "the backup is not the old build";

  // The new build is the one that starts now: it is as new as the offer, so
  // it asks nothing and its main window comes up.
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(Windows(pid_, "更新提醒").empty());
  EXPECT_TRUE(ReadAll(program_) == next);

  EXPECT_EQ(Served("GET /update/update.txt"), 2u);
  EXPECT_EQ(Served("GET /update/parlex"), 1u);
}

TEST_F(DemoServiceUpdate, AnOfferThatIsNotNewerStartsStraightAway) {
  Offer(PARLEX_VERSION_TEXT, PARLEX_PROGRAM_PATH);
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(Windows(pid_, "更新提醒").empty());
  EXPECT_TRUE(ReadAll(program_) == original_);
  EXPECT_FALSE(fs::exists(dir_.Path() / ".旧版本"));
  EXPECT_EQ(Served("GET /update/update.txt"), 1u);
  EXPECT_EQ(Served("GET /update/parlex"), 0u);
}
#endif

}  // namespace
}  // namespace parlex::update
