#include "app/qt/single_instance_lock.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace parlex::app::qt {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "parlex-lock-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

using test::ScopedEnv;

TEST(InstanceLockPath, LivesInTheSessionRuntimeDirectory) {
  const std::string name = "Ostrel桌面登录程序";
  const std::string fallback = "/tmp/" + name + "-" + std::to_string(geteuid()) + ".lock";
  {
    ScopedEnv env("XDG_RUNTIME_DIR", "/run/user/1234");
    EXPECT_EQ(InstanceLockPath(), "/run/user/1234/" + name + ".lock");
  }
  {
    ScopedEnv env("XDG_RUNTIME_DIR", "/run/user/1234/");
    EXPECT_EQ(InstanceLockPath(), "/run/user/1234/" + name + ".lock");
  }
  {
    ScopedEnv env("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(InstanceLockPath(), fallback);
  }
  {
    // Relative and empty values are not a runtime directory.
    ScopedEnv env("XDG_RUNTIME_DIR", "run/user/1234");
    EXPECT_EQ(InstanceLockPath(), fallback);
    ScopedEnv empty("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(InstanceLockPath(), fallback);
  }
}

TEST(SingleInstanceLock, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  TempDir dir;
  const std::string path = dir.File("instance.lock");
  SingleInstanceLock first;
  SingleInstanceLock second;
  ASSERT_EQ(first.Acquire(path), SingleInstanceLock::Result::kAcquired);
  EXPECT_TRUE(first.held());
  EXPECT_EQ(first.Acquire(path), SingleInstanceLock::Result::kAcquired);  // already ours
  EXPECT_EQ(second.Acquire(path), SingleInstanceLock::Result::kAlreadyRunning);
  EXPECT_FALSE(second.held());
  first.Release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(second.Acquire(path), SingleInstanceLock::Result::kAcquired);
  {
    SingleInstanceLock scoped;
    second.Release();
    EXPECT_EQ(scoped.Acquire(path), SingleInstanceLock::Result::kAcquired);
  }
  // The destructor let go.
  EXPECT_EQ(first.Acquire(path), SingleInstanceLock::Result::kAcquired);
}

TEST(SingleInstanceLock, KilledHolderDoesNotBlockTheNextStart) {
  TempDir dir;
  const std::string path = dir.File("instance.lock");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstanceLock lock;
    const char result = lock.Acquire(path) == SingleInstanceLock::Result::kAcquired ? 'y' : 'n';
    (void)!write(ready[1], &result, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char result = 0;
  ASSERT_EQ(read(ready[0], &result, 1), 1);
  close(ready[0]);
  ASSERT_EQ(result, 'y');

  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire(path), SingleInstanceLock::Result::kAlreadyRunning);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(lock.Acquire(path), SingleInstanceLock::Result::kAcquired);
}

TEST(SingleInstanceLock, ChildProcessesDoNotInheritIt) {
  // Helper processes started while we run (the web engine's) must not keep
  // the lock alive once we are gone.
  TempDir dir;
  const std::string path = dir.File("instance.lock");
  auto lock = std::make_unique<SingleInstanceLock>();
  ASSERT_EQ(lock->Acquire(path), SingleInstanceLock::Result::kAcquired);
  pid_t helper = -1;
  char arg0[] = "sleep";
  char arg1[] = "30";
  char* argv[] = {arg0, arg1, nullptr};
  ASSERT_EQ(posix_spawn(&helper, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
  lock.reset();
  SingleInstanceLock next;
  EXPECT_EQ(next.Acquire(path), SingleInstanceLock::Result::kAcquired);
  kill(helper, SIGKILL);
  waitpid(helper, nullptr, 0);
}

TEST(SingleInstanceLock, FilesItCannotTrustLeaveTheProgramUnguarded) {
  TempDir dir;
  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire(dir.File("missing/instance.lock")), SingleInstanceLock::Result::kUnavailable);
  // A symbolic link planted in a shared directory is not followed.
  const std::string target = dir.File("target");
  const std::string link = dir.File("link.lock");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(lock.Acquire(link), SingleInstanceLock::Result::kUnavailable);
  EXPECT_FALSE(fs::exists(target));
  ASSERT_EQ(mkdir(dir.File("dir.lock").c_str(), 0700), 0);
  EXPECT_EQ(lock.Acquire(dir.File("dir.lock")), SingleInstanceLock::Result::kUnavailable);
  EXPECT_FALSE(lock.held());
  // None of that stops a usable file from working afterwards.
  EXPECT_EQ(lock.Acquire(dir.File("instance.lock")), SingleInstanceLock::Result::kAcquired);
}

}  // namespace
}  // namespace parlex::app::qt
