// The updater's swap on this build's real platform, in a process of its own
// that ends itself the way a kill does (SIGKILL, TerminateProcess) right
// after its N-th file operation: nothing is flushed, closed or undone. The
// tests run it for N = 1, 2, ... and look at what a start finds afterwards.
//
//   update_swap_child N PROGRAM DOWNLOADED
//
// Exits 0 when the swap finished, 1 when it failed, and is killed otherwise.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <memory>
#include <string>

#include "common/text.h"
#include "update/answering_agent.h"
#include "update/auto_updater.h"
#include "update/real_platform.h"
#include "update/swap_child.h"

namespace parlex::test {
namespace {

[[noreturn]] void EndAsKilled() {
#ifdef _WIN32
  ::TerminateProcess(::GetCurrentProcess(), kSwapChildKilled);
#else
  ::kill(::getpid(), SIGKILL);
#endif
  std::abort();
}

class KillingPlatform : public PlatformAt {
 public:
  KillingPlatform(std::u16string program, int killAfter) : PlatformAt(std::move(program)), left_(killAfter) {}

  // Counts one file operation done; the last one allowed ends the process.
  void Done() {
    if (--left_ == 0) EndAsKilled();
  }

  bool RemoveFile(const std::u16string& path) override {
    bool removed = PlatformAt::RemoveFile(path);
    Done();
    return removed;
  }
  bool RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) override {
    bool moved = PlatformAt::RenameFile(from, to, atRestart);
    Done();
    return moved;
  }
  bool CopyPermissions(const std::u16string& from, const std::u16string& to) override {
    bool copied = PlatformAt::CopyPermissions(from, to);
    Done();
    return copied;
  }
  std::unique_ptr<update::ILocalFile> CreateFileForWrite(const std::u16string& path) override {
    std::unique_ptr<update::ILocalFile> file = PlatformAt::CreateFileForWrite(path);
    Done();
    if (!file) return nullptr;
    // Every write and the close are steps of their own.
    struct Counted : update::ILocalFile {
      Counted(std::unique_ptr<update::ILocalFile> f, KillingPlatform& p) : file(std::move(f)), platform(p) {}
      bool Write(const void* data, size_t length) override {
        bool written = file->Write(data, length);
        platform.Done();
        return written;
      }
      bool Close() override {
        bool closed = file->Close();
        platform.Done();
        return closed;
      }
      std::unique_ptr<update::ILocalFile> file;
      KillingPlatform& platform;
    };
    return std::make_unique<Counted>(std::move(file), *this);
  }

 private:
  int left_;
};

}  // namespace
}  // namespace parlex::test

int main(int argc, char** argv) {
  using namespace parlex;
  if (argc != 4) return 2;
  const std::u16string program = FromUtf8(argv[2]);
  test::KillingPlatform platform(program, std::atoi(argv[1]));
  test::AnsweringAgent agent;
  update::CAutoUpdater updater(platform, agent);
  return updater.ReplaceExecutable(program, FromUtf8(argv[3]), false) ? 0 : 1;
}
