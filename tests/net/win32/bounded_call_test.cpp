// Bounded calls on real internet handles, with jobs that take their time.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "net/win32/bounded_call.h"
#include "net/win32/internet_handle.h"

namespace parlex::net::win32 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::shared_ptr<InternetHandle> OpenSession() {
  return InternetHandle::Adopt(::InternetOpenW(L"A", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
}

// Made without a byte on the network: WinINet connects when a request is sent.
std::shared_ptr<InternetHandle> OpenConnection(const std::shared_ptr<InternetHandle>& session) {
  return InternetHandle::Adopt(
      ::InternetConnectW(session->get(), L"127.0.0.1", 9, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
      session);
}

CallWait Bounds(int firstMs, int thenMs = 0, CallProgress* progress = nullptr) {
  CallWait wait;
  wait.firstMs = firstMs;
  wait.thenMs = thenMs;
  wait.progress = progress;
  return wait;
}

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

TEST(BoundedCall, AJobGivenUpOnClosesItsHandlesWhenItEnds) {
  const long before = InternetHandle::OpenCount();
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  auto connection = OpenConnection(session);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(InternetHandle::OpenCount(), before + 2);

  auto ended = std::make_shared<std::atomic<bool>>(false);
  const auto start = Clock::now();
  EXPECT_EQ(RunBounded(
                connection,
                [connection, ended] {
                  ::Sleep(1500);
                  *ended = true;
                },
                Bounds(50)),
            CallEnd::kTimedOut);
  EXPECT_LT(Since(start), milliseconds(1000));

  // It still runs on the connection: another call there fails at once.
  bool ran = false;
  EXPECT_EQ(RunBounded(
                connection, [&ran] { ran = true; }, Bounds(5000)),
            CallEnd::kBusy);
  EXPECT_FALSE(ran);

  // The openers let go; the late job keeps the connection open, and the
  // connection its session, until it ends.
  connection.reset();
  session.reset();
  EXPECT_EQ(InternetHandle::OpenCount(), before + 2);
  for (int i = 0; i < 250 && InternetHandle::OpenCount() != before; ++i) ::Sleep(20);
  EXPECT_TRUE(*ended);
  EXPECT_EQ(InternetHandle::OpenCount(), before);
}

TEST(BoundedCall, AHandleTakesCallsAgainOnceTheLateJobHasEnded) {
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(RunBounded(
                session, [] { ::Sleep(300); }, Bounds(20)),
            CallEnd::kTimedOut);
  CallEnd end = CallEnd::kBusy;
  int ran = 0;
  for (int i = 0; i < 200 && end == CallEnd::kBusy; ++i) {
    end = RunBounded(
        session, [&ran] { ++ran; }, Bounds(5000));
    if (end == CallEnd::kBusy) ::Sleep(10);
  }
  EXPECT_EQ(end, CallEnd::kEnded);
  EXPECT_EQ(ran, 1);
}

// A job that reports progress after reportMs (never when negative) and ends
// restMs later, run with the two bounds; how the call ended, and after how
// long. staleReport: a report left from before the call.
struct Outcome {
  CallEnd end;
  milliseconds waited;
};
Outcome RunReporting(int reportMs, int restMs, int firstMs, int thenMs, bool staleReport = false) {
  auto session = OpenSession();
  auto progress = std::make_shared<CallProgress>();
  if (staleReport) progress->Report();
  const auto start = Clock::now();
  CallEnd end = RunBounded(
      session,
      [progress, reportMs, restMs] {
        if (reportMs >= 0) {
          ::Sleep(static_cast<DWORD>(reportMs));
          progress->Report();
        }
        ::Sleep(static_cast<DWORD>(restMs));
      },
      Bounds(firstMs, thenMs, progress.get()));
  return {end, Since(start)};
}

TEST(BoundedCall, ProgressMovesTheWaitToTheSecondBound) {
  // Over the first bound in all, but the report came within it.
  Outcome reported = RunReporting(100, 600, 300, 5000);
  EXPECT_EQ(reported.end, CallEnd::kEnded);
  EXPECT_GE(reported.waited, milliseconds(650));
  // No report in this call: the first bound ends the wait, however long the
  // second.
  for (bool stale : {false, true}) {
    Outcome silent = RunReporting(-1, 3000, 300, 20000, stale);
    EXPECT_EQ(silent.end, CallEnd::kTimedOut) << stale;
    EXPECT_GE(silent.waited, milliseconds(250)) << stale;
    EXPECT_LT(silent.waited, milliseconds(2000)) << stale;
  }
  // The second bound counts from the report.
  Outcome late = RunReporting(200, 3000, 300, 400);
  EXPECT_EQ(late.end, CallEnd::kTimedOut);
  EXPECT_GE(late.waited, milliseconds(550));
  EXPECT_LT(late.waited, milliseconds(2500));
}

std::atomic<int> served{0};

// Served through DispatchMessageW: counts, and asks the thread's outer loop
// to end.
void CALLBACK QuittingTimer(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  ++served;
  ::PostQuitMessage(7);
}

// Processor time this thread has used.
milliseconds ThreadTime() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return milliseconds(0);
  auto ticks = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  return milliseconds((ticks(kernel) + ticks(user)) / 10000);
}

TEST(BoundedCall, PumpingServesTheThreadsMessagesAndPutsTheQuitBack) {
  auto session = OpenSession();
  served = 0;
  ASSERT_NE(::SetTimer(nullptr, 0, 100, QuittingTimer), 0u);
  CallWait wait = Bounds(5000);
  wait.pumpMessages = true;
  const milliseconds before = ThreadTime();
  // The quit does not end the wait: the job still has its bound.
  EXPECT_EQ(RunBounded(
                session, [] { ::Sleep(1500); }, wait),
            CallEnd::kEnded);
  EXPECT_EQ(served, 1);
  // Nor does the wait spin on the quit it put back.
  EXPECT_LT(ThreadTime() - before, milliseconds(150));
  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
}

// The client's waits serve nothing: a window's command that sends cannot
// run again inside its own send.
TEST(BoundedCall, WithoutPumpingNothingIsServedDuringTheWait) {
  auto session = OpenSession();
  served = 0;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, QuittingTimer);
  ASSERT_NE(timer, 0u);
  EXPECT_EQ(RunBounded(
                session, [] { ::Sleep(600); }, Bounds(5000)),
            CallEnd::kEnded);
  EXPECT_EQ(served, 0);
  // It was due all along.
  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  ::DispatchMessageW(&msg);
  EXPECT_EQ(served, 1);
  EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// True when the thread ends within ms.
bool Ends(DWORD threadId, DWORD ms) {
  HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, threadId);
  if (thread == nullptr) return true;  // gone already
  const bool ended = ::WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
  ::CloseHandle(thread);
  return ended;
}

TEST(BoundedCall, AKeptThreadServesCallAfterCallUntilOneIsGivenUpOn) {
  auto session = OpenSession();
  auto other = OpenSession();
  CallThread thread;
  CallWait wait = Bounds(5000);
  wait.thread = &thread;
  DWORD first = 0;
  DWORD second = 0;
  EXPECT_EQ(RunBounded(
                session, [&first] { first = ::GetCurrentThreadId(); }, wait),
            CallEnd::kEnded);
  EXPECT_EQ(RunBounded(
                session, [&second] { second = ::GetCurrentThreadId(); }, wait),
            CallEnd::kEnded);
  EXPECT_NE(first, ::GetCurrentThreadId());
  EXPECT_EQ(first, second);

  // Given up on, the thread is left to its late call and ends with it; the
  // next call gets a new one.
  CallWait brief = wait;
  brief.firstMs = 50;
  EXPECT_EQ(RunBounded(
                session, [] { ::Sleep(500); }, brief),
            CallEnd::kTimedOut);
  DWORD third = 0;
  EXPECT_EQ(RunBounded(
                other, [&third] { third = ::GetCurrentThreadId(); }, wait),
            CallEnd::kEnded);
  EXPECT_NE(third, first);
  EXPECT_TRUE(Ends(first, 5000));

  // An idle thread ends with its owner.
  DWORD idle = 0;
  {
    CallThread owner;
    wait.thread = &owner;
    EXPECT_EQ(RunBounded(
                  other, [&idle] { idle = ::GetCurrentThreadId(); }, wait),
              CallEnd::kEnded);
    EXPECT_FALSE(Ends(idle, 100));
  }
  EXPECT_TRUE(Ends(idle, 5000));
}

TEST(BoundedCall, AThreadThatCannotStartFailsTheCall) {
  const long before = InternetHandle::OpenCount();
  auto session = OpenSession();
  ASSERT_NE(session, nullptr);
  CallWait wait = Bounds(5000);
  wait.startThread = [](std::function<void()>&) { return false; };
  bool ran = false;
  EXPECT_EQ(RunBounded(
                session, [&ran, session] { ran = true; }, wait),
            CallEnd::kNoThread);
  CallThread thread;
  wait.thread = &thread;
  EXPECT_EQ(RunBounded(
                session, [&ran, session] { ran = true; }, wait),
            CallEnd::kNoThread);
  EXPECT_FALSE(ran);
  // Neither its claim on the handle nor its share of it outlives the failed call.
  EXPECT_EQ(RunBounded(
                session, [&ran] { ran = true; }, Bounds(5000)),
            CallEnd::kEnded);
  EXPECT_TRUE(ran);
  session.reset();
  EXPECT_EQ(InternetHandle::OpenCount(), before);
}

}  // namespace
}  // namespace parlex::net::win32
