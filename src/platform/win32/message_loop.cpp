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

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) { filters_.push_back(filter); }
bool CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { return RemoveFirst(filters_, filter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) { idleHandlers_.push_back(handler); }
bool CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { return RemoveFirst(idleHandlers_, handler); }

int CMessageLoop::Run() {
  bool doIdle = true;
  int idleCount = 0;
  for (;;) {
    while (doIdle && !::PeekMessageW(&msg_, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) doIdle = false;
    }
    BOOL got = GetNextMessage(&msg_);
    if (got == -1) continue;
    if (!got) break;
    if (!PreTranslateMessage(&msg_)) {
      ::TranslateMessage(&msg_);
      ::DispatchMessageW(&msg_);
    }
    if (IsIdleMessage(msg_)) {
      doIdle = true;
      idleCount = 0;
    }
  }
  return static_cast<int>(msg_.wParam);
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
  for (size_t i = filters_.size(); i-- > 0;) {
    if (i < filters_.size() && filters_[i]->PreTranslateMessage(msg)) return true;
  }
  return false;
}

bool CMessageLoop::OnIdle(int /*idleCount*/) {
  for (size_t i = 0; i < idleHandlers_.size(); ++i) idleHandlers_[i]->OnIdle();
  return false;
}

}  // namespace parlex::win32
