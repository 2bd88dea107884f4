// Blocking WinINet calls with a bound on how long the caller waits.
//
// WinINet's own timeouts are not enough: its connect timeout is ignored by
// some hosts of the API (Wine among them), some ignore the receive timeouts
// too, and closing a handle from another thread does not interrupt a call
// blocked in a connect or a receive. A host that drops the handshake, or a
// server that accepts and then says nothing, would hold the caller for as
// long as the system's TCP retries last. So each blocking call runs as a job
// on a thread of its own while the caller waits for it, and the caller walks
// away when the bound has passed.
//
// The wait has one policy: at most firstMs until the job reports progress
// (a request: past its connect) or ends, then at most thenMs from that
// report until it ends. A call with no progress to report has the one
// bound, firstMs.
//
// A job walked away from runs on to its end alone, so it must own
// everything it touches: shared owners of its handles, buffers of its own.
// Until it ends, its handle stays claimed and later calls on that handle
// fail at once rather than block beside it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "net/win32/internet_handle.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::net::win32 {

enum class CallEnd {
  kEnded,     // the job ran to its end within the bounds
  kTimedOut,  // the caller walked away; the job ends alone
  kBusy,      // a call walked away from still runs on the handle
  kNoThread,  // the job could not be started
};

struct CallWait;

// Where a job reports that it is past its first stage. It is made before
// the job, since the report usually comes from WinINet's status callback,
// whose context is fixed when the handle is opened.
class CallProgress {
 public:
  CallProgress() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  CallProgress(const CallProgress&) = delete;
  CallProgress& operator=(const CallProgress&) = delete;

  // From any thread.
  void Report() {
    if (event_) ::SetEvent(event_.Get());
  }

 private:
  friend class CallWaiter;
  parlex::win32::ScopedKernelHandle event_;
};

// Starts run on a thread of its own: false when no thread can be had.
bool StartThread(std::function<void()>& run);

// A helper thread kept for a stream of calls (a download's reads), which
// would otherwise start a thread each. After a call on it is given up on,
// the thread ends with that call and the next call gets a new one; an idle
// thread ends with its owner.
class CallThread {
 public:
  CallThread() = default;
  ~CallThread();
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

 private:
  friend CallEnd RunBounded(const std::shared_ptr<InternetHandle>& handle, std::function<void()> job,
                            const CallWait& wait);
  struct Queue;
  // Hands run to the thread, starting it with start when there is none.
  bool Take(std::function<void()>& run, bool (*start)(std::function<void()>& run));
  void GiveUp();

  std::shared_ptr<Queue> queue_;
};

struct CallWait {
  int firstMs = 0;
  int thenMs = 0;
  // Where the job reports progress; none: firstMs bounds the whole call.
  CallProgress* progress = nullptr;
  // Serves the calling thread's windows while it waits, so that they keep
  // painting. A quit message is put back for the outer loop.
  bool pumpMessages = false;
  // Runs the job there; none: on a thread of its own.
  CallThread* thread = nullptr;
  // How a helper thread is started.
  bool (*startThread)(std::function<void()>& run) = StartThread;
};

// Runs job, a blocking call on handle, and waits for it as wait says.
CallEnd RunBounded(const std::shared_ptr<InternetHandle>& handle, std::function<void()> job,
                   const CallWait& wait);

// Lets the thread's windows paint and answer. A quit message belongs to an
// outer loop: it is put back, and true tells that it came.
bool PumpPendingMessages();

}  // namespace parlex::net::win32
