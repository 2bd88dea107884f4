#include "app/win32/tray_messages.h"

namespace parlex::app::win32 {

const UINT g_uTaskbarCreatedMessage = ::RegisterWindowMessageW(L"TaskBarCreated");
const UINT g_uIconNotifiedMessage = ::RegisterWindowMessageW(L"IconNotified");
const UINT g_uCloseForInstallMessage = ::RegisterWindowMessageW(L"ParlexCloseForInstall");

}  // namespace parlex::app::win32
