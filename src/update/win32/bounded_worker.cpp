#include "update/win32/bounded_worker.h"

#include <chrono>
#include <system_error>

namespace parlex::update::win32 {

BoundedWorker::Shared::~Shared() {
  if (done != nullptr) CloseHandle(done);
}

BoundedWorker::BoundedWorker() : shared_(std::make_shared<Shared>()) {
  shared_->done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  try {
    thread_ = std::thread(Loop, shared_);
  } catch (const std::system_error&) {
    // No thread to be had: every call fails, as a call that timed out would.
  }
}

BoundedWorker::~BoundedWorker() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
  }
  shared_->wake.notify_all();
  // A helper still blocked in a call is left to finish on its own; it holds
  // its share of the state.
  if (!thread_.joinable()) return;
  if (stuck_) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void BoundedWorker::Loop(std::shared_ptr<Shared> shared) {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      shared->wake.wait(lock, [&] { return shared->stop || shared->job; });
      if (!shared->job) return;
      job = std::move(shared->job);
      shared->job = nullptr;
    }
    job();
    SetEvent(shared->done);
  }
}

bool BoundedWorker::Run(std::function<void()> job, int ms) {
  if (!Ready()) return false;
  ResetEvent(shared_->done);
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->job = std::move(job);
  }
  shared_->wake.notify_all();
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    DWORD r = MsgWaitForMultipleObjects(1, &shared_->done, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r == WAIT_OBJECT_0 + 1) {
      PumpPendingMessages();
      continue;
    }
    // Timed out (or the wait itself failed): one last look, then give up.
    if (WaitForSingleObject(shared_->done, 0) == WAIT_OBJECT_0) return true;
    stuck_ = true;
    return false;
  }
}

void SharedInternetHandle::BeginCall() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++inFlight_;
}

void SharedInternetHandle::EndCall() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--inFlight_ == 0 && released_ && handle_ != nullptr) {
    InternetCloseHandle(handle_);
    handle_ = nullptr;
  }
}

void SharedInternetHandle::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  if (inFlight_ == 0 && handle_ != nullptr) {
    InternetCloseHandle(handle_);
    handle_ = nullptr;
  }
}

bool SharedInternetHandle::Closed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return handle_ == nullptr;
}

bool SharedInternetHandle::RunCall(BoundedWorker& worker, const std::shared_ptr<SharedInternetHandle>& handle,
                                   std::function<void(HINTERNET)> job, int ms) {
  if (!worker.Ready()) return false;
  handle->BeginCall();
  return worker.Run(
      [handle, job = std::move(job)] {
        job(handle->get());
        handle->EndCall();
      },
      ms);
}

void PumpPendingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace parlex::update::win32
