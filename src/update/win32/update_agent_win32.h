// The agent's side of the update on Windows: the question box, the download
// window and the restart message.
#pragma once

#include <windows.h>

#include "update/auto_updater.h"

namespace parlex::update::win32 {

// Class name of the download window, so that it can be found.
inline constexpr wchar_t kProgressWindowClass[] = L"ParlexUpdateProgress";

class UpdateAgentWin32 : public IUpdateAgent {
 public:
  // MessageBoxW owned by the active window (none at start-up) with
  // "检测到新版本，是否更新?", "更新提醒" and MB_YESNO | MB_ICONQUESTION.
  bool AskToUpdate() override;
  // A small window with the byte counts and a progress bar; messages are
  // pumped between chunks so it paints and the desktop stays responsive.
  std::unique_ptr<IDownloadProgress> ShowProgress(int64_t announced) override;
};

// "更新成功，请重新启动登录器！" titled "自动更新提醒" with the information
// icon and no owner window.
void ShowUpdatedMessage();

}  // namespace parlex::update::win32
