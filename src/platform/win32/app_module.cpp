#include "platform/win32/app_module.h"

namespace parlex::win32 {

CAppModule g_module;

void CAppModule::Init(HINSTANCE instance) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_hInstance = instance;
  m_dwMainThreadId = ::GetCurrentThreadId();
  m_loops.clear();
}

void CAppModule::Term() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_loops.clear();
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_loops.emplace(::GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_loops.erase(::GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) const {
  std::lock_guard<std::mutex> hold(m_lock);
  auto found = m_loops.find(threadId);
  return found == m_loops.end() ? nullptr : found->second;
}

}  // namespace parlex::win32
