// The capture's files on Linux, on a private folder: the private temporary
// file, moves that never replace, and the folders the capture writes to.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "capture/qt/capture_files_posix.h"
#include "support/temp_dir.h"
#include "support/scoped_env.h"

namespace parlex::qt {
namespace {

namespace fs = std::filesystem;

unsigned Mode(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

TEST(CaptureFilesPosix, PrivateFileReplacesReadOnlyFilesAndLinksWithAFileOfItsOwn) {
  test::TempDir dir("capture-files");
  ASSERT_TRUE(dir.Ok());
  CaptureFilesPosix files;
  const fs::path target = dir.File("shot.jpg");

  dir.Write("shot.jpg", "old");
  fs::permissions(target, fs::perms::owner_read);
  ASSERT_TRUE(files.WritePrivateFile(target.u16string(), "new"));
  EXPECT_EQ(test::TempDir::Read(target), "new");
  EXPECT_TRUE(S_ISREG(Mode(target)));
  EXPECT_EQ(Mode(target) & 07777, 0600u);

  // A link is removed, never written through.
  const fs::path victim = dir.Write("victim.txt", "keep");
  fs::remove(target);
  fs::create_symlink(victim, target);
  ASSERT_TRUE(files.WritePrivateFile(target.u16string(), "jpeg"));
  EXPECT_EQ(test::TempDir::Read(victim), "keep");
  EXPECT_TRUE(S_ISREG(Mode(target)));
  EXPECT_EQ(test::TempDir::Read(target), "jpeg");

  files.RemoveFile(target.u16string());
  EXPECT_FALSE(files.FileExists(target.u16string()));
  EXPECT_TRUE(fs::exists(victim));
}

TEST(CaptureFilesPosix, MoveNeverReplacesAnExistingFile) {
  test::TempDir dir("capture-files");
  ASSERT_TRUE(dir.Ok());
  CaptureFilesPosix files;
  const fs::path from = dir.Write("from.jpg", "image");
  const fs::path taken = dir.Write("taken.jpg", "theirs");
  EXPECT_FALSE(files.MoveFile(from.u16string(), taken.u16string()));
  EXPECT_EQ(test::TempDir::Read(taken), "theirs");
  EXPECT_EQ(test::TempDir::Read(from), "image");

  const fs::path to = dir.File("Ostrel截屏未发送 2026-12-07 131500.jpg");
  EXPECT_TRUE(files.MoveFile(from.u16string(), to.u16string()));
  EXPECT_FALSE(fs::exists(from));
  EXPECT_EQ(test::TempDir::Read(to), "image");
  EXPECT_TRUE(files.FileExists(to.u16string()));
}

TEST(CaptureFilesPosix, FoldersFollowTheEnvironment) {
  test::TempDir dir("capture-files");
  ASSERT_TRUE(dir.Ok());
  CaptureFilesPosix files;
  {
    // The upload's folder: private to the user, in the session's runtime
    // folder when that is private itself, else in $TMPDIR (or /tmp).
    const std::string own = "parlex-" + std::to_string(::geteuid());
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    test::ScopedEnv tmpdir("TMPDIR", dir.Path().c_str());
    EXPECT_EQ(files.TempDirectory(), (dir.Path() / own).u16string() + u"/");
    EXPECT_EQ(fs::status(dir.Path() / own).permissions(), fs::perms::owner_all);
    tmpdir.Set((dir.Path() / "missing").c_str());
    EXPECT_EQ(files.TempDirectory(), u"/tmp/" + fs::path(own).u16string() + u"/");
    fs::create_directories(dir.Path() / "run");
    fs::permissions(dir.Path() / "run", fs::perms::owner_all, fs::perm_options::replace);
    runtime.Set((dir.Path() / "run").c_str());
    EXPECT_EQ(files.TempDirectory(), (dir.Path() / "run" / "parlex").u16string() + u"/");
    // A runtime folder others may enter is no private place.
    fs::permissions(dir.Path() / "run", fs::perms::all, fs::perm_options::replace);
    EXPECT_EQ(files.TempDirectory(), u"/tmp/" + fs::path(own).u16string() + u"/");
  }
  {
    test::ScopedEnv home("HOME", dir.Path().c_str());
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir.Path() / "config").c_str());
    EXPECT_EQ(files.PicturesDirectory(), dir.Path().u16string() + u"/");  // no Pictures folder yet
    fs::create_directory(dir.Path() / "Pictures");
    EXPECT_EQ(files.PicturesDirectory(), (dir.Path() / "Pictures").u16string() + u"/");
  }

  const LocalTime now = files.Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
}

}  // namespace
}  // namespace parlex::qt
