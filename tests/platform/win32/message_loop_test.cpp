// The message loop's contract: filters, idle handlers, what counts as
// activity, the quit code.
#include "platform/win32/message_loop.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace parlex::win32 {
namespace {

constexpr UINT kSystemTimer = 0x0118;

struct Filter : CMessageFilter {
  std::function<bool(MSG*)> handle;
  bool PreTranslateMessage(MSG* msg) override { return handle(msg); }
};

struct Idle : CIdleHandler {
  std::function<void()> handle;
  bool OnIdle() override {
    handle();
    return true;  // wants more: the loop must still idle only once
  }
};

// Ends a stuck loop: the test fails instead of hanging.
void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) { ::PostQuitMessage(-99); }

struct WatchdogTimer {
  UINT_PTR id = ::SetTimer(nullptr, 0, 10000, Watchdog);
  ~WatchdogTimer() { ::KillTimer(nullptr, id); }
};

// A message-only window recording what is dispatched to it.
struct Target {
  static inline std::vector<UINT> dispatched;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_APP) dispatched.push_back(message);
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  HWND hwnd = nullptr;
  Target() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ParlexLoopTestTarget";
    ::RegisterClassW(&wc);
    hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                             nullptr);
    dispatched.clear();
  }
  ~Target() { ::DestroyWindow(hwnd); }
};

TEST(MessageLoop, FiltersAreAskedLastAddedFirstAndTheFirstConsumerEndsTheHandling) {
  Target target;
  ASSERT_TRUE(target.hwnd);
  CMessageLoop loop;
  std::vector<char> asked;
  Filter first, second, third;
  first.handle = [&](MSG* m) {
    if (m->message < WM_APP) return false;
    asked.push_back('1');
    return false;
  };
  second.handle = [&](MSG* m) {
    if (m->message < WM_APP) return false;
    asked.push_back('2');
    return m->message == WM_APP + 1;  // consumes this one only
  };
  third.handle = [&](MSG* m) {
    if (m->message < WM_APP) return false;
    asked.push_back('3');
    return false;
  };
  loop.AddMessageFilter(&first);
  loop.AddMessageFilter(&second);
  loop.AddMessageFilter(&third);

  WatchdogTimer watchdog;
  ::PostMessageW(target.hwnd, WM_APP + 1, 0, 0);
  ::PostMessageW(target.hwnd, WM_APP + 2, 0, 0);
  ::PostQuitMessage(5);
  EXPECT_EQ(loop.Run(), 5);

  EXPECT_EQ(std::string(asked.begin(), asked.end()),
            "32"
            "321");
  // The consumed message was not dispatched; the other one was.
  EXPECT_EQ(Target::dispatched, std::vector<UINT>{WM_APP + 2});

  // A removed filter is not asked any more.
  EXPECT_TRUE(loop.RemoveMessageFilter(&second));
  EXPECT_FALSE(loop.RemoveMessageFilter(&second));
  asked.clear();
  ::PostMessageW(target.hwnd, WM_APP + 1, 0, 0);
  ::PostQuitMessage(6);
  EXPECT_EQ(loop.Run(), 6);
  EXPECT_EQ(std::string(asked.begin(), asked.end()), "31");
}

// Drives the loop from its idle handlers: each idle period posts the next
// message of a script. A message that is not activity is followed by a
// timer 30 ms later; no idle period may happen in between.
TEST(MessageLoop, IdleHandlersRunOncePerIdlePeriodInOrderAndOnlyActivityRearmsThem) {
  CMessageLoop loop;
  std::vector<int> idleCalls;  // which handler, in call order
  int periods = 0;
  const std::vector<UINT> quiet = {WM_MOUSEMOVE, WM_NCMOUSEMOVE, WM_PAINT, kSystemTimer};
  size_t step = 0;
  UINT_PTR timer = 0;  // a thread timer's id is chosen by the system
  int periodsAtQuietMessage = -1;
  std::vector<int> extraPeriods;  // per quiet message: idle periods before the timer
  int periodsBetweenQueued = -1;  // idle periods between two queued messages
  int periodsAtFirstQueued = -1;

  Idle one, two;
  one.handle = [&] {
    idleCalls.push_back(1);
    ++periods;
    if (periods > 100) {
      ::PostQuitMessage(-1);  // idling without end
      return;
    }
    if (step < quiet.size()) {
      ::PostThreadMessageW(::GetCurrentThreadId(), quiet[step], 0, 0);
    } else if (step == quiet.size()) {
      // Two messages queued together: no idle period between them.
      ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 6, 0, 0);
      ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 7, 0, 0);
    } else if (step == quiet.size() + 1) {
      // Ordinary activity: exactly one idle period follows it.
      ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 8, 0, 0);
    } else {
      ::PostQuitMessage(77);
    }
    ++step;
  };
  two.handle = [&] { idleCalls.push_back(2); };

  Filter script;
  script.handle = [&](MSG* m) {
    if (m->hwnd) return false;
    if (m->message == WM_TIMER && timer && m->wParam == timer) {
      ::KillTimer(nullptr, timer);
      timer = 0;
      extraPeriods.push_back(periods - periodsAtQuietMessage);
      return true;
    }
    for (UINT q : quiet) {
      if (m->message == q) {
        periodsAtQuietMessage = periods;
        timer = ::SetTimer(nullptr, 0, 30, nullptr);
        return true;
      }
    }
    if (m->message == WM_APP + 6) periodsAtFirstQueued = periods;
    if (m->message == WM_APP + 7) periodsBetweenQueued = periods - periodsAtFirstQueued;
    return m->message >= WM_APP;
  };

  loop.AddIdleHandler(&one);
  loop.AddIdleHandler(&two);
  loop.AddMessageFilter(&script);
  WatchdogTimer watchdog;
  EXPECT_EQ(loop.Run(), 77);

  EXPECT_EQ(extraPeriods, std::vector<int>(quiet.size(), 0));
  EXPECT_EQ(periodsBetweenQueued, 0);
  // Start, one after each timer, one after the queued pair, one after the
  // ordinary message.
  EXPECT_EQ(periods, 1 + static_cast<int>(quiet.size()) + 1 + 1);
  ASSERT_EQ(idleCalls.size(), 2u * periods);
  for (size_t i = 0; i < idleCalls.size(); ++i) EXPECT_EQ(idleCalls[i], i % 2 == 0 ? 1 : 2) << i;
}

TEST(MessageLoop, IdleHandlersAreNotCalledAfterRemoval) {
  CMessageLoop loop;
  int calls = 0;
  Idle idle;
  idle.handle = [&] { ++calls; };
  loop.AddIdleHandler(&idle);
  EXPECT_TRUE(loop.RemoveIdleHandler(&idle));
  EXPECT_FALSE(loop.RemoveIdleHandler(&idle));
  ::PostQuitMessage(3);
  EXPECT_EQ(loop.Run(), 3);
  EXPECT_EQ(calls, 0);
}

TEST(MessageLoop, ActivityIsEverythingButMouseMovesPaintAndTheSystemTimer) {
  for (UINT quiet : {UINT(WM_MOUSEMOVE), UINT(WM_NCMOUSEMOVE), UINT(WM_PAINT), kSystemTimer}) {
    EXPECT_FALSE(CMessageLoop::IsIdleMessage(MSG{nullptr, quiet, 0, 0, 0, {}})) << quiet;
  }
  for (UINT active :
       {UINT(WM_KEYDOWN), UINT(WM_LBUTTONDOWN), UINT(WM_TIMER), UINT(WM_NCPAINT), UINT(WM_APP)}) {
    EXPECT_TRUE(CMessageLoop::IsIdleMessage(MSG{nullptr, active, 0, 0, 0, {}})) << active;
  }
}

// A loop whose first retrieval fails.
class FailingOnceLoop : public CMessageLoop {
 protected:
  BOOL GetNextMessage(MSG* msg) override {
    if (!failed_) {
      failed_ = true;
      msg->message = WM_APP + 50;
      return -1;
    }
    return CMessageLoop::GetNextMessage(msg);
  }

 private:
  bool failed_ = false;
};

TEST(MessageLoop, ARetrievalErrorIsSkipped) {
  FailingOnceLoop loop;
  std::vector<UINT> seen;
  Filter filter;
  filter.handle = [&](MSG* m) {
    if (m->message >= WM_APP) seen.push_back(m->message);
    return m->message >= WM_APP;
  };
  loop.AddMessageFilter(&filter);
  ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 1, 0, 0);
  ::PostQuitMessage(9);
  WatchdogTimer watchdog;
  EXPECT_EQ(loop.Run(), 9);
  EXPECT_EQ(seen, std::vector<UINT>{WM_APP + 1});
}

}  // namespace
}  // namespace parlex::win32
