// The support log's file on Windows: %LOCALAPPDATA%\Parlex\parlex.log, with
// one older file beside it as parlex.log.1.
#pragma once

#include <windows.h>

#include <string>

#include "common/support_log.h"
#include "platform/win32/scoped_handle.h"

namespace parlex::app::win32 {

// Empty when the user has no local application data folder.
std::wstring LogPath();

class LogFileWin32 final : public supportlog::ILogSink {
 public:
  explicit LogFileWin32(std::wstring path);

  supportlog::Stamp Now() override;
  // Opens, appends the line in one write and closes, under a mutex of the
  // user's session, so two running copies never mix their lines and never
  // both start a new file. Every failure loses the line only.
  void Append(std::string_view line) override;

 private:
  std::wstring path_;
  parlex::win32::ScopedKernelHandle mutex_;
  bool folderMade_ = false;
};

}  // namespace parlex::app::win32
