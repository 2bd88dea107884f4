// The programs a test starts end with it, however it ends. A test process
// that dies without its destructors (a sanitizer report, a crash) is played
// by a forked process that starts a helper and leaves with _exit; this
// process takes in the orphaned helper as its subreaper and sees how it ended.
#include "support/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace parlex::test {
namespace {

// Whether process pid runs sleep(1) by now: the helper has left our code
// for the program it was started for.
bool RunsSleep(pid_t pid) {
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
  std::string first;
  std::getline(cmdline, first, '\0');
  return first == "sleep";
}

// Runs start (which answers the helper's pid) in a process that, once the
// helper runs its program, ends without unwinding; answers the helper's pid.
pid_t StartInADyingTest(const std::function<pid_t()>& start) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  const pid_t test = ::fork();
  if (test == 0) {
    ::close(pipeFds[0]);
    const pid_t helper = start();
    for (int i = 0; i < 250 && helper > 0 && !RunsSleep(helper); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    (void)!::write(pipeFds[1], &helper, sizeof helper);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  pid_t helper = -1;
  if (test < 0 || ::read(pipeFds[0], &helper, sizeof helper) != sizeof helper) helper = -1;
  ::close(pipeFds[0]);
  if (test > 0) ::waitpid(test, nullptr, 0);
  return helper;
}

// The helper's status once it ended, within timeoutMs; it is killed and
// nothing is answered when it still runs.
std::optional<int> EndOf(pid_t helper, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(helper, &status, WNOHANG) == helper) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(helper, SIGKILL);
  ::waitpid(helper, nullptr, 0);
  return std::nullopt;
}

class HelpersEndWithTheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
  void TearDown() override { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }

  static void ExpectKilled(pid_t helper) {
    ASSERT_GT(helper, 0);
    const std::optional<int> status = EndOf(helper, 5000);
    ASSERT_TRUE(status.has_value()) << "the helper outlived the test that started it";
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGKILL);
  }
};

TEST_F(HelpersEndWithTheTest, AProgramReadThroughAPipe) {
  ExpectKilled(StartInADyingTest([] {
    auto* sleeper = new ChildProcess;  // never destroyed, as in an aborted test
    return sleeper->Start("/bin/sleep", {"sleep", "30"}) ? sleeper->Pid() : -1;
  }));
}

TEST_F(HelpersEndWithTheTest, AProgramInAGroupOfItsOwn) {
  TempDir dir("program-group");
  ASSERT_TRUE(dir.Ok());
  const std::filesystem::path program = dir.Write("sleeper", "#!/bin/sh\nexec sleep 30\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  const std::string log = dir.File("log").string();
  ExpectKilled(StartInADyingTest([&] { return StartProgramGroup(program.string(), {}, log); }));
}

}  // namespace
}  // namespace parlex::test
