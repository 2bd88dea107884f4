#include "app/win32/run.h"

#include <memory>

#include "app/shell_texts.h"
#include "app/win32/main_dlg.h"
#include "platform/win32/app_module.h"
#include "platform/win32/message_loop.h"

namespace parlex::app::win32 {

using parlex::win32::CMessageLoop;
using parlex::win32::g_module;

int Run(LPWSTR /*commandLine*/, int showCommand) {
  CMessageLoop loop;
  g_module.AddMessageLoop(&loop);

  // The update check belongs here: after the loop, before any window exists.

  auto mainDlg = std::make_unique<CMainDlg>();
  if (!mainDlg->Create()) {
    mainDlg.reset();
    // The module must not keep a loop that is about to go.
    g_module.RemoveMessageLoop();
    return kExitNormal;
  }
  ::ShowWindow(mainDlg->GetHwnd(), showCommand);

  int result = loop.Run();

  g_module.RemoveMessageLoop();
  mainDlg.reset();
  return result;
}

}  // namespace parlex::app::win32
