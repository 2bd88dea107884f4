// Texts, names and exit codes of the application shell, the same in both
// builds.
#pragma once

#include <cstdint>

namespace parlex::app {

// One running copy per user session is guarded by an object of this name.
inline constexpr char16_t kInstanceName[] = u"Ostrel桌面登录程序";
inline constexpr char16_t kAlreadyRunningText[] = u"Ostrel登录程序已经启动！";
inline constexpr char16_t kAlreadyRunningCaption[] = u"提醒";

inline constexpr char16_t kMainWindowTitle[] = u"Ostrel";
// Appended to the chat service's base URL.
inline constexpr char16_t kAgentPagePath[] = u"embeded";

// The tray icon: its tip, the welcome balloon shown at start and the items
// of its menu.
inline constexpr char16_t kTrayTip[] = u"Ostrel";
inline constexpr char16_t kWelcomeTitle[] = u"Ostrel";
inline constexpr char16_t kWelcomeText[] = u"欢迎使用Ostrel登录器";
inline constexpr char16_t kTrayMenuShow[] = u"显示";
inline constexpr char16_t kTrayMenuExit[] = u"退出";

inline constexpr char16_t kUpdatedText[] = u"更新成功，请重新启动登录器！";
inline constexpr char16_t kUpdatedCaption[] = u"自动更新提醒";

// The installer asks a running copy to leave before it replaces the program
// with this registered window message, sent to the main window (a dialog
// titled kMainWindowTitle). The answer: kCloseBusy while a capture runs (the
// agent's picture is never thrown away for an install), kCloseAccepted when
// the program leaves as the page's quit takes it. The installer's script
// uses the same name and numbers.
inline constexpr char16_t kCloseForInstallMessage[] = u"ParlexCloseForInstall";
inline constexpr int kCloseBusy = 1;
inline constexpr int kCloseAccepted = 2;

// Exit codes.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitFromTrayMenu = 32778;  // the tray menu's exit command id
// A chat or update address set for the deployment is not a usable address:
// the program told the agent and did not start.
inline constexpr int kExitBadSettings = 3;

}  // namespace parlex::app
