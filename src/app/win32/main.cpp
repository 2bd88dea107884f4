// Process entry: one running copy per user session, then COM, the common
// controls and the window framework around the run procedure.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/shell_texts.h"
#include "app/support_events.h"
#include "app/win32/log_file_win32.h"
#include "app/win32/run.h"
#include "common/support_log.h"
#include "platform/win32/app_module.h"
#include "platform/win32/ax_host.h"
#include "platform/win32/wide_text.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPWSTR commandLine, int showCommand) {
  using namespace parlex;
  using parlex::win32::AsWide;

  // Lives as long as the process: a line may still come from a thread that
  // outlives the entry.
  static app::win32::LogFileWin32 logFile(app::win32::LogPath());
  supportlog::SetSink(&logFile);

  // Never closed: the system releases it when the process ends, however it
  // ends, and the next start gets in.
  ::CreateMutexW(nullptr, FALSE, AsWide(app::kInstanceName));
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    supportlog::Info("start", u"another copy is running; this one shows its message and ends");
    ::MessageBoxW(nullptr, AsWide(app::kAlreadyRunningText), AsWide(app::kAlreadyRunningCaption), MB_OK);
    return app::kExitNormal;
  }

  ::CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  win32::g_module.Init(::GetModuleHandleW(nullptr));
  win32::RegisterAxHostClass(win32::g_module.GetModuleInstance());

  int result = app::win32::Run(commandLine, showCommand);

  win32::g_module.Term();
  ::CoUninitialize();
  app::LogExit(result);
  return result;
}
