// The support log's file on Linux: $XDG_STATE_HOME/parlex/parlex.log
// (~/.local/state when the variable is unset or not absolute), with one
// older file beside it as parlex.log.1.
#pragma once

#include <string>

#include "common/support_log.h"

namespace parlex::app::posix {

std::string LogPath();

class LogFilePosix final : public supportlog::ILogSink {
 public:
  explicit LogFilePosix(std::string path);

  supportlog::Stamp Now() override;
  // Opens, appends the line in one write and closes, under an exclusive
  // lock of the file (waited for at most 200 ms), so two running copies
  // never mix their lines and never both start a new file. Every failure
  // loses the line only.
  void Append(std::string_view line) override;

 private:
  std::string path_;
  bool folderMade_ = false;
};

}  // namespace parlex::app::posix
