// A shared owner of one open internet handle.
//
// A blocking call that was given up on may still be using a handle after the
// object that opened it is gone, and closing a handle under a call blocked
// on it does not interrupt the call. So the handle is closed by whoever lets
// go of it last: its opener, or the late call. A handle keeps the handle it
// was opened under (its parent) open for as long as it is, so a session is
// never closed under a request that still runs.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>

namespace parlex::net::win32 {

class InternetHandle {
 public:
  // Owns handle, opened under parent (none for a session). context is what
  // the handle's context value points to: it is kept until the handle is
  // closed, since closing still reports to the status callback. Null when
  // handle is null.
  static std::shared_ptr<InternetHandle> Adopt(HINTERNET handle,
                                               std::shared_ptr<InternetHandle> parent = nullptr,
                                               std::shared_ptr<void> context = nullptr);

  ~InternetHandle();
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET get() const { return handle_; }

  // Claims the handle for one blocking call. False while another call on it
  // still runs (one given up on): a second blocking call must not run on the
  // same handle beside it.
  bool BeginCall() { return !busy_.exchange(true); }
  void EndCall() { busy_ = false; }

  // Internet handles owned here and not yet closed, in the whole process.
  static long OpenCount() { return openCount_.load(); }

 private:
  InternetHandle(HINTERNET handle, std::shared_ptr<InternetHandle> parent, std::shared_ptr<void> context)
      : handle_(handle), parent_(std::move(parent)), context_(std::move(context)) {
    ++openCount_;
  }

  HINTERNET handle_;
  std::shared_ptr<InternetHandle> parent_;
  std::shared_ptr<void> context_;
  std::atomic<bool> busy_{false};

  static std::atomic<long> openCount_;
};

}  // namespace parlex::net::win32
