// Window messages registered by name, so that the shell and this program
// agree on their numbers. Both are registered while the program's globals
// are initialised, before the process entry runs.
#pragma once

#include <windows.h>

namespace parlex::app::win32 {

// Broadcast by the shell when the taskbar was (re)created: icons added
// before are gone and must be added again.
extern const UINT g_uTaskbarCreatedMessage;
// The tray icon's callback message, sent to the main window.
extern const UINT g_uIconNotifiedMessage;
// The installer's request to leave (kCloseForInstallMessage).
extern const UINT g_uCloseForInstallMessage;

}  // namespace parlex::app::win32
