// This build's real updater platform (WinINet and MoveFileExW, or sockets and
// rename(2)) with the running program at a path of the test's choosing, for
// the tests that put real files through the updater's own file operations.
#pragma once

#include <string>
#include <utility>

#ifdef _WIN32
#include "update/win32/update_platform_win32.h"
#else
#include "update/posix/update_platform_posix.h"
#endif

namespace parlex::test {

#ifdef _WIN32
using RealUpdatePlatform = update::win32::UpdatePlatformWin32;
#else
using RealUpdatePlatform = update::posix::UpdatePlatformPosix;
#endif

class PlatformAt : public RealUpdatePlatform {
 public:
  explicit PlatformAt(std::u16string program) : program_(std::move(program)) {}
  std::u16string OwnPath() override { return program_; }

 private:
  std::u16string program_;
};

}  // namespace parlex::test
