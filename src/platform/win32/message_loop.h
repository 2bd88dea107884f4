// The UI thread's message loop with its message filters and idle handlers.
#pragma once

#include <windows.h>

#include <vector>

namespace parlex::win32 {

// Sees every message of the loop before it is translated and dispatched.
class CMessageFilter {
 public:
  // True when the filter consumed the message.
  virtual bool PreTranslateMessage(MSG* msg) = 0;

 protected:
  ~CMessageFilter() = default;
};

// Called when the queue runs empty after activity.
class CIdleHandler {
 public:
  // True when more idle time is wanted.
  virtual bool OnIdle() = 0;

 protected:
  ~CIdleHandler() = default;
};

class CMessageLoop {
 public:
  virtual ~CMessageLoop() = default;

  void AddMessageFilter(CMessageFilter* filter);
  bool RemoveMessageFilter(CMessageFilter* filter);
  void AddIdleHandler(CIdleHandler* handler);
  bool RemoveIdleHandler(CIdleHandler* handler);

  // Runs until the quit message arrives and answers its parameter.
  //  - While the queue is empty after activity, the idle handlers run once,
  //    in the order they were added.
  //  - Filters see each message from the last added to the first; the first
  //    that consumes it ends its handling, otherwise it is translated and
  //    dispatched.
  //  - Mouse moves (client and non-client), paint and the system timer
  //    0x0118 are not activity: they do not bring the idle handlers back.
  //  - A failed retrieval is skipped.
  int Run();

  // False for the messages that do not count as activity.
  static bool IsIdleMessage(const MSG& msg);

  const MSG& CurrentMessage() const { return msg_; }

 protected:
  // GetMessageW's answer: positive for a message, 0 for the quit message,
  // -1 for a retrieval error.
  virtual BOOL GetNextMessage(MSG* msg);
  // Asks the filters, last added first.
  virtual bool PreTranslateMessage(MSG* msg);
  // Runs every idle handler in order; the loop itself wants no more idle time.
  virtual bool OnIdle(int idleCount);

 private:
  std::vector<CMessageFilter*> filters_;
  std::vector<CIdleHandler*> idleHandlers_;
  MSG msg_{};
};

}  // namespace parlex::win32
