// The agent's side of the update on Linux: the question box, the download
// window and the restart message, as Qt widgets.
#pragma once

#include "update/auto_updater.h"

namespace parlex::update::qt {

class UpdateAgentQt : public IUpdateAgent {
 public:
  // A modal question box owned by the active window (none at start-up).
  bool AskToUpdate() override;
  // A small window with the byte counts and a bar; it keeps the event loop
  // turning between chunks.
  std::unique_ptr<IDownloadProgress> ShowProgress(int64_t announced) override;
};

// "更新成功，请重新启动登录器！" titled "自动更新提醒" with the information
// icon, no owner.
void ShowUpdatedMessage();

}  // namespace parlex::update::qt
