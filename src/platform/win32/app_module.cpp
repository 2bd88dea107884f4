#include "platform/win32/app_module.h"

namespace parlex::win32 {

CAppModule g_module;

void CAppModule::Init(HINSTANCE instance) {
  std::lock_guard<std::mutex> hold(lock_);
  instance_ = instance;
  mainThreadId_ = ::GetCurrentThreadId();
  loops_.clear();
}

void CAppModule::Term() {
  std::lock_guard<std::mutex> hold(lock_);
  loops_.clear();
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
  std::lock_guard<std::mutex> hold(lock_);
  return loops_.emplace(::GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
  std::lock_guard<std::mutex> hold(lock_);
  return loops_.erase(::GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = loops_.find(threadId);
  return found == loops_.end() ? nullptr : found->second;
}

}  // namespace parlex::win32
