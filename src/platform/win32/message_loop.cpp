#include "platform/win32/message_loop.h"

#include <algorithm>

namespace parlex::win32 {

namespace {

template <class T>
bool RemoveFirst(std::vector<T*>& list, T* item) {
  auto found = std::find(list.begin(), list.end(), item);
  if (found == list.end()) return false;
  list.erase(found);
  return true;
}

}  // namespace

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) { m_filters.push_back(filter); }
bool CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { return RemoveFirst(m_filters, filter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) { m_idleHandlers.push_back(handler); }
bool CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { return RemoveFirst(m_idleHandlers, handler); }

int CMessageLoop::Run() {
  bool doIdle = true;
  int idleCount = 0;
  for (;;) {
    while (doIdle && !::PeekMessageW(&m_msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) doIdle = false;
    }
    BOOL got = GetNextMessage(&m_msg);
    if (got == -1) continue;
    if (!got) break;
    if (!PreTranslateMessage(&m_msg)) {
      ::TranslateMessage(&m_msg);
      ::DispatchMessageW(&m_msg);
    }
    if (IsIdleMessage(m_msg)) {
      doIdle = true;
      idleCount = 0;
    }
  }
  return static_cast<int>(m_msg.wParam);
}

bool CMessageLoop::IsIdleMessage(const MSG& msg) {
  switch (msg.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case 0x0118:  // the system timer behind the caret's blink
      return false;
    default:
      return true;
  }
}

BOOL CMessageLoop::GetNextMessage(MSG* msg) { return ::GetMessageW(msg, nullptr, 0, 0); }

bool CMessageLoop::PreTranslateMessage(MSG* msg) {
  // By index, re-checked each step: a filter may remove filters (itself
  // included) while it handles the message.
  for (size_t i = m_filters.size(); i-- > 0;) {
    if (i < m_filters.size() && m_filters[i]->PreTranslateMessage(msg)) return true;
  }
  return false;
}

bool CMessageLoop::OnIdle(int /*idleCount*/) {
  for (size_t i = 0; i < m_idleHandlers.size(); ++i) m_idleHandlers[i]->OnIdle();
  return false;
}

}  // namespace parlex::win32
