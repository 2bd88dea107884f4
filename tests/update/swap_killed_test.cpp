// The updater's swap on this build's real platform, killed after each of its
// file operations in turn (in a child process, update_swap_child), then the
// start-up recovery: the program's path always ends up holding a whole
// program, the old or the new one byte for byte, and no backup or staged
// file is left beside it.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/text.h"
#include "support/temp_dir.h"
#include "update/auto_updater.h"
#include "update/executable_images.h"
#include "update/real_platform.h"
#include "update/swap_child.h"

#ifndef _WIN32
#include "support/child_process.h"
#endif

namespace parlex::update {
namespace {

namespace fs = std::filesystem;

enum class SwapEnd { kFinished, kFailed, kKilled, kHung };

SwapEnd RunSwap(int killAfter, const fs::path& program, const fs::path& downloaded) {
  const std::string child = PARLEX_SWAP_CHILD_PATH;
  const std::string n = std::to_string(killAfter);
#ifdef _WIN32
  std::wstring commandLine = L"\"" + std::wstring(child.begin(), child.end()) + L"\" " +
                             std::wstring(n.begin(), n.end()) + L" \"" + program.wstring() + L"\" \"" +
                             downloaded.wstring() + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return SwapEnd::kHung;
  }
  DWORD code = 0;
  const bool ended = WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(pi.hProcess, 1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  if (!ended) return SwapEnd::kHung;
  if (code == test::kSwapChildKilled) return SwapEnd::kKilled;
  return code == 0 ? SwapEnd::kFinished : SwapEnd::kFailed;
#else
  test::ChildProcess process;
  if (!process.Start(child, {child, n, program.string(), downloaded.string()})) return SwapEnd::kHung;
  std::optional<int> status = process.Wait(20000);
  if (!status) return SwapEnd::kHung;
  if (WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) return SwapEnd::kKilled;
  return WIFEXITED(*status) && WEXITSTATUS(*status) == 0 ? SwapEnd::kFinished : SwapEnd::kFailed;
#endif
}

std::optional<std::string> Contents(const fs::path& file) {
  if (!fs::exists(file)) return std::nullopt;
  return test::TempDir::Read(file);
}

std::u16string Text(const fs::path& path) {
  std::u8string u8 = path.u8string();
  return FromUtf8(std::string(u8.begin(), u8.end()));
}

TEST(SwapKilled, EveryStepLeavesAWholeProgramForTheNextStart) {
#ifdef _WIN32
  const std::string old = testing::MinimalPe(3000);
  const std::string fresh = testing::MinimalPe(70000);
  const char* name = "Parlex.exe";
  const char* backupName = "Parlex.旧版本";
  const char* stagedName = "Parlex.新版本";
#else
  const std::string old = testing::MinimalElf(3000);
  const std::string fresh = testing::MinimalElf(70000);
  const char* name = "parlex";
  const char* backupName = ".旧版本";
  const char* stagedName = ".新版本";
#endif
  const bool replacesInOneStep = test::PlatformAt(u"").ReplacesByRename();
  int kills = 0;
  int emptyNames = 0;
  bool finished = false;
  for (int n = 1; n <= 64 && !finished; ++n) {
    SCOPED_TRACE("killed after file operation " + std::to_string(n));
    test::TempDir dir("swap");
    ASSERT_TRUE(dir.Ok());
    const fs::path program = dir.Write(name, old);
    fs::create_directory(dir.Path() / "download");
    const fs::path downloaded = dir.Write(std::string("download/") + name, fresh);
    const fs::path backup = dir.File(backupName);
    const fs::path staged = dir.File(stagedName);

    const SwapEnd end = RunSwap(n, program, downloaded);
    ASSERT_TRUE(end == SwapEnd::kKilled || end == SwapEnd::kFinished) << static_cast<int>(end);
    finished = end == SwapEnd::kFinished;
    kills += finished ? 0 : 1;

    // What the next start finds, then what its recovery makes of it.
    const std::optional<std::string> found = Contents(program);
    const bool leftovers = fs::exists(backup) || fs::exists(staged);
    if (replacesInOneStep) {
      // The name never stands empty nor holds a partial program.
      EXPECT_TRUE(found == old || found == fresh);
    } else {
      // Only between moving the old program aside and the new one in.
      EXPECT_TRUE(!found || found == old || found == fresh);
    }
    if (finished) {
      EXPECT_EQ(Contents(backup), old) << "the finished swap keeps the old program";
    }

    test::PlatformAt platform(Text(program));
    const StartRecovery recovery = RecoverInterruptedUpdate(platform);
    const std::optional<std::string> after = Contents(program);
    ASSERT_TRUE(after == old || after == fresh);
    if (!found) {
      ++emptyNames;
      EXPECT_EQ(recovery, StartRecovery::kRestored);
      EXPECT_EQ(after, old) << "the backup goes back";
    } else {
      EXPECT_EQ(recovery, leftovers ? StartRecovery::kCleared : StartRecovery::kNothing);
      EXPECT_EQ(after, found) << "a whole program keeps its name";
    }
    if (finished) {
      EXPECT_EQ(after, fresh);
    }
    // The backup was used or cleared, and no staged program is left.
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(staged));
  }
  EXPECT_TRUE(finished) << "the swap never finished";
  // Remove, stage, permissions and the moves at the least.
  EXPECT_GE(kills, 5);
  EXPECT_EQ(emptyNames, replacesInOneStep ? 0 : 1);
}

}  // namespace
}  // namespace parlex::update
