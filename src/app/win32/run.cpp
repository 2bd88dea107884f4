#include "app/win32/run.h"

#include "app/shell_texts.h"
#include "app/win32/main_dlg.h"
#include "platform/win32/app_module.h"
#include "platform/win32/message_loop.h"

namespace parlex::app::win32 {

using parlex::win32::CMessageLoop;
using parlex::win32::g_module;

namespace {

// The loop's registration as this thread's loop. Every way out of the run
// ends it, so the module never keeps a loop that is gone.
class LoopRegistration {
 public:
  explicit LoopRegistration(CMessageLoop& loop) { g_module.AddMessageLoop(&loop); }
  LoopRegistration(const LoopRegistration&) = delete;
  LoopRegistration& operator=(const LoopRegistration&) = delete;
  ~LoopRegistration() { End(); }

  void End() {
    if (m_bRegistered) g_module.RemoveMessageLoop();
    m_bRegistered = false;
  }

 private:
  bool m_bRegistered = true;
};

}  // namespace

int Run(LPWSTR /*commandLine*/, int showCommand) {
  // Objects end in reverse order: the main window, then the loop.
  CMessageLoop loop;
  LoopRegistration registration(loop);

  // The update check belongs here, before any window exists (its updater
  // declared here too, so that it outlives the main window).

  CMainDlg mainDlg;
  if (!mainDlg.Create()) return kExitNormal;
  ::ShowWindow(mainDlg.GetHwnd(), showCommand);

  int result = loop.Run();

  registration.End();
  return result;
}

}  // namespace parlex::app::win32
