// The module's loop table: one loop per thread, found from any thread.
#include "platform/win32/app_module.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/win32/message_loop.h"

namespace parlex::win32 {
namespace {

TEST(AppModule, KeepsOneLoopPerThread) {
  CAppModule module;
  module.Init(::GetModuleHandleW(nullptr));
  EXPECT_EQ(module.GetMainThreadId(), ::GetCurrentThreadId());
  EXPECT_EQ(module.GetModuleInstance(), ::GetModuleHandleW(nullptr));

  CMessageLoop mine, theirs, second;
  EXPECT_EQ(module.GetMessageLoop(), nullptr);
  EXPECT_TRUE(module.AddMessageLoop(&mine));
  EXPECT_FALSE(module.AddMessageLoop(&second));  // a thread has one loop
  EXPECT_EQ(module.GetMessageLoop(), &mine);

  DWORD otherThread = 0;
  CMessageLoop* seenThere = &second;
  std::thread other([&] {
    otherThread = ::GetCurrentThreadId();
    seenThere = module.GetMessageLoop();
    module.AddMessageLoop(&theirs);
  });
  other.join();
  EXPECT_EQ(seenThere, nullptr);
  EXPECT_EQ(module.GetMessageLoop(otherThread), &theirs);
  EXPECT_EQ(module.GetMessageLoop(), &mine);

  EXPECT_TRUE(module.RemoveMessageLoop());
  EXPECT_FALSE(module.RemoveMessageLoop());
  EXPECT_EQ(module.GetMessageLoop(), nullptr);
  EXPECT_EQ(module.GetMessageLoop(otherThread), &theirs);

  module.Term();
  EXPECT_EQ(module.GetMessageLoop(otherThread), nullptr);
}

}  // namespace
}  // namespace parlex::win32
