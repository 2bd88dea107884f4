#include "net/win32/bounded_call.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace parlex::net::win32 {

using parlex::win32::ScopedKernelHandle;

// Waits for one of a call's events, with its deadlines.
class CallWaiter {
 public:
  CallWaiter(HANDLE done, CallProgress* progress, bool pumpMessages)
      : handles_{done, progress != nullptr ? progress->event_.Get() : nullptr}, pump_(pumpMessages) {
    // Progress counts from the start of this call.
    if (handles_[1] != nullptr) ::ResetEvent(handles_[1]);
  }

  bool HearsProgress() const { return handles_[1] != nullptr; }

  // 0 when the job ended, 1 when it reported progress (only while
  // withProgress), 2 when ms passed first.
  DWORD Wait(int ms, bool withProgress) {
    const DWORD count = withProgress && HearsProgress() ? 2 : 1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      const DWORD leftMs = static_cast<DWORD>(std::max<int64_t>(left, 0));
      DWORD r = pump_
                    ? ::MsgWaitForMultipleObjectsEx(count, handles_, leftMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE)
                    : ::WaitForMultipleObjects(count, handles_, FALSE, leftMs);
      if (r < WAIT_OBJECT_0 + count) return r - WAIT_OBJECT_0;
      if (pump_ && r == WAIT_OBJECT_0 + count) {
        // After a quit the queue is the outer loop's; pumping on would
        // only find the quit again.
        if (PumpPendingMessages()) pump_ = false;
        continue;
      }
      // Timed out, or the wait itself failed: one last look.
      r = ::WaitForMultipleObjects(count, handles_, FALSE, 0);
      return r < WAIT_OBJECT_0 + count ? r - WAIT_OBJECT_0 : 2;
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  HANDLE handles_[2];
  bool pump_;
};

bool StartThread(std::function<void()>& run) {
  try {
    std::thread(std::move(run)).detach();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

struct CallThread::Queue {
  std::mutex mutex;
  std::condition_variable wake;
  std::function<void()> job;
  bool stop = false;

  static void Serve(const std::shared_ptr<Queue>& queue) {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(queue->mutex);
        queue->wake.wait(lock, [&] { return queue->stop || queue->job; });
        if (!queue->job) return;
        job = std::move(queue->job);
        queue->job = nullptr;
      }
      job();
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_all();
  }
};

CallThread::~CallThread() {
  if (queue_ != nullptr) queue_->Stop();
}

bool CallThread::Take(std::function<void()>& run, bool (*start)(std::function<void()>& run)) {
  if (queue_ == nullptr) {
    auto queue = std::make_shared<Queue>();
    std::function<void()> serve = [queue] { Queue::Serve(queue); };
    if (!start(serve)) return false;
    queue_ = std::move(queue);
  }
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->job = std::move(run);
  }
  queue_->wake.notify_all();
  return true;
}

void CallThread::GiveUp() {
  // The thread ends once the call it is stuck in does.
  queue_->Stop();
  queue_ = nullptr;
}

CallEnd RunBounded(const std::shared_ptr<InternetHandle>& handle, std::function<void()> job,
                   const CallWait& wait) {
  if (!handle->BeginCall()) return CallEnd::kBusy;
  auto done = std::make_shared<ScopedKernelHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!*done) {
    handle->EndCall();
    return CallEnd::kNoThread;
  }
  CallWaiter waiter(done->Get(), wait.progress, wait.pumpMessages);
  std::function<void()> run = [owner = handle, job = std::move(job), done]() mutable {
    job();
    // What the job owns is let go of before the caller hears of its end:
    // a caller that closes its handles next finds them closed.
    job = nullptr;
    owner->EndCall();
    owner.reset();
    ::SetEvent(done->Get());
  };
  if (!(wait.thread != nullptr ? wait.thread->Take(run, wait.startThread) : wait.startThread(run))) {
    handle->EndCall();
    return CallEnd::kNoThread;
  }

  // With no way to hear of progress, a job that reports some gets both
  // stages' time.
  const int firstMs =
      wait.progress != nullptr && !waiter.HearsProgress() ? wait.firstMs + wait.thenMs : wait.firstMs;
  DWORD seen = waiter.Wait(firstMs, true);
  if (seen == 1) seen = waiter.Wait(wait.thenMs, false);
  if (seen == 0) return CallEnd::kEnded;
  if (wait.thread != nullptr) wait.thread->GiveUp();
  return CallEnd::kTimedOut;
}

bool PumpPendingMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return true;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return false;
}

}  // namespace parlex::net::win32
