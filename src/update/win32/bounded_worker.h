// A helper thread for blocking WinINet calls, so that the UI thread can give
// up on them after a bound.
//
// WinINet's own timeouts are not enough: some hosts of the API ignore the
// receive timeouts of InternetSetOptionW altogether, and closing the handle
// from another thread does not interrupt a call that is blocked in a
// receive. A server that accepts the connection and then says nothing
// would hold up the program's start for as long as it likes. So each
// blocking call runs here while the UI thread waits for it, pumping its
// messages (the download window stays alive), and walks away when the
// bound has passed. A call that was walked away from may finish later; it
// must own everything it touches.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace parlex::update::win32 {

class BoundedWorker {
 public:
  BoundedWorker();
  ~BoundedWorker();
  BoundedWorker(const BoundedWorker&) = delete;
  BoundedWorker& operator=(const BoundedWorker&) = delete;

  // A helper thread is there to take a job: it started, and no earlier job
  // was given up on.
  bool Ready() const { return thread_.joinable() && !stuck_ && shared_->done != nullptr; }

  // Runs job on the helper thread and waits at most ms for it. false when it
  // did not finish in time (the helper is then given up and every later
  // call fails at once) or when there is no helper to run it.
  bool Run(std::function<void()> job, int ms);

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::function<void()> job;
    bool stop = false;
    HANDLE done = nullptr;
    ~Shared();
  };
  static void Loop(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  bool stuck_ = false;
};

// An internet handle that a call given up on may still be using. Closing it
// under such a call can block until the call ends, so it is closed by
// whoever comes last: its owner, or the last call still in flight.
class SharedInternetHandle {
 public:
  explicit SharedInternetHandle(HINTERNET handle) : handle_(handle) {}
  SharedInternetHandle(const SharedInternetHandle&) = delete;
  SharedInternetHandle& operator=(const SharedInternetHandle&) = delete;

  HINTERNET get() const { return handle_; }
  // Around every call that may block on the handle.
  void BeginCall();
  void EndCall();
  // The owner is done with it.
  void Release();
  // Closed: released and no call in flight.
  bool Closed();

  // Runs job(handle) on worker, bounded by ms, counted as a call on the
  // handle only when the worker takes it, so that a job that never runs
  // cannot keep the handle open. False when it did not run or not in time.
  static bool RunCall(BoundedWorker& worker, const std::shared_ptr<SharedInternetHandle>& handle,
                      std::function<void(HINTERNET)> job, int ms);

 private:
  std::mutex mutex_;
  HINTERNET handle_;
  int inFlight_ = 0;
  bool released_ = false;
};

// Lets the thread's windows paint and answer while it waits. A quit message
// belongs to an outer loop and is put back.
void PumpPendingMessages();

}  // namespace parlex::update::win32
