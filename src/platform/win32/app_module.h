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

  HINSTANCE GetModuleInstance() const { return instance_; }
  DWORD GetMainThreadId() const { return mainThreadId_; }

  // Registers loop as the current thread's loop; false if the thread has one.
  bool AddMessageLoop(CMessageLoop* loop);
  // Unregisters the current thread's loop; false if it had none.
  bool RemoveMessageLoop();
  // The loop registered for a thread (the current one by default), or null.
  CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId()) const;

 private:
  HINSTANCE instance_ = nullptr;
  DWORD mainThreadId_ = 0;
  // Loops may live on several threads; the table is shared between them.
  mutable std::mutex lock_;
  std::map<DWORD, CMessageLoop*> loops_;
};

// The program's one module.
extern CAppModule g_module;

}  // namespace parlex::win32
