// The application module: the program's instance and, per UI thread, that
// thread's message loop, so that windows can find the loop they run under.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>

namespace parlex::win32 {

class CMessageLoop;

class CAppModule {
 public:
  // Remembers the instance and the main thread; the loop table starts empty.
  void Init(HINSTANCE instance);
  // Forgets every loop still registered.
  void Term();

  HINSTANCE GetModuleInstance() const { return m_hInstance; }
  DWORD GetMainThreadId() const { return m_dwMainThreadId; }

  // Registers loop as the current thread's loop; false if the thread has one.
  bool AddMessageLoop(CMessageLoop* loop);
  // Unregisters the current thread's loop; false if it had none.
  bool RemoveMessageLoop();
  // The loop registered for a thread (the current one by default), or null.
  CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId()) const;

 private:
  HINSTANCE m_hInstance = nullptr;
  DWORD m_dwMainThreadId = 0;
  // Loops may live on several threads; the table is shared between them.
  mutable std::mutex m_lock;
  std::map<DWORD, CMessageLoop*> m_loops;
};

// The program's one module.
extern CAppModule g_module;

}  // namespace parlex::win32
