// The support log's file on Linux: bounded with one older file, whole lines
// from two copies writing at once, and a place that cannot be written.
#include "app/posix/log_file_posix.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace parlex::app::posix {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LogFilePosix, TheFolderFollowsXdgStateHome) {
  test::ScopedEnv state("XDG_STATE_HOME", "/var/agent-state");
  EXPECT_EQ(LogPath(), "/var/agent-state/parlex/parlex.log");
  state.Set(nullptr);
  test::ScopedEnv home("HOME", "/home/agent");
  EXPECT_EQ(LogPath(), "/home/agent/.local/state/parlex/parlex.log");
}

TEST(LogFilePosix, AFullFileBecomesTheOlderOneAndOnlyOneIsKept) {
  test::TempDir dir("log");
  ASSERT_TRUE(dir.Ok());
  const fs::path path = dir.File("state/parlex/parlex.log");
  LogFilePosix log(path.string());
  const std::string line = std::string(999, 'a') + "\n";
  // Three files' worth: the first is gone, the second is the older one.
  for (int i = 0; i < 3 * 1049; ++i) log.Append(i == 5 ? std::string(999, 'b') + "\n" : line);
  EXPECT_EQ(fs::status(path.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  ASSERT_TRUE(fs::exists(path));
  ASSERT_TRUE(fs::exists(path.string() + ".1"));
  EXPECT_FALSE(fs::exists(path.string() + ".2"));
  EXPECT_LE(fs::file_size(path), supportlog::kMaxFileBytes);
  EXPECT_LE(fs::file_size(path.string() + ".1"), supportlog::kMaxFileBytes);
  EXPECT_GT(fs::file_size(path.string() + ".1"), supportlog::kMaxFileBytes - 1000);
  for (const std::string& l : Lines(path.string() + ".1")) EXPECT_EQ(l, std::string(999, 'a'));
}

TEST(LogFilePosix, TwoCopiesWritingAtOnceNeverMixTheirLines) {
  test::TempDir dir("log");
  ASSERT_TRUE(dir.Ok());
  const fs::path path = dir.File("parlex.log");
  // Together past the bound, so one of them starts a new file midway.
  constexpr int kLines = 1500;
  std::vector<pid_t> children;
  for (char mark : {'x', 'y'}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      LogFilePosix log(path.string());
      for (int i = 0; i < kLines; ++i) log.Append(std::to_string(i) + ":" + std::string(500, mark) + "\n");
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::regex whole(R"(\d+:(x{500}|y{500}))");
  size_t total = 0;
  for (const fs::path& file : {path, fs::path(path.string() + ".1")}) {
    for (const std::string& line : Lines(file)) {
      ++total;
      EXPECT_TRUE(std::regex_match(line, whole)) << line.substr(0, 40);
    }
  }
  // Every line is in one of the two files: one new file was enough.
  EXPECT_EQ(total, 2u * kLines);
}

TEST(LogFilePosix, APlaceThatCannotBeWrittenLosesTheLineOnly) {
  test::TempDir dir("log");
  ASSERT_TRUE(dir.Ok());
  // A file where the folder should be: not even root can make the log there.
  const fs::path blocker = dir.Write("state", "not a folder");
  LogFilePosix log((blocker / "parlex" / "parlex.log").string());
  log.Append("lost\n");
  EXPECT_EQ(test::TempDir::Read(blocker), "not a folder");
}

TEST(LogFilePosix, ACopyThatHoldsTheLockCostsTheLineNotTheTime) {
  test::TempDir dir("log");
  ASSERT_TRUE(dir.Ok());
  const fs::path path = dir.Write("parlex.log", "held\n");
  const int holder = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  LogFilePosix log(path.string());
  const auto start = std::chrono::steady_clock::now();
  log.Append("lost\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  close(holder);
  log.Append("kept\n");
  EXPECT_EQ(test::TempDir::Read(path), "held\nkept\n");
}

}  // namespace
}  // namespace parlex::app::posix
