// CaptureFilesPosix: the files and the clock of save and send on Linux. Paths
// are the program's UTF-16 text, written to the file system as UTF-8.
#pragma once

#include "capture/screen_view.h"

namespace parlex::qt {

class CaptureFilesPosix : public ICaptureFiles {
 public:
  // A folder private to the user, never the shared temporary folder itself
  // (where another user's file of the upload's fixed name would stand in
  // its way): "parlex" in the session's runtime folder ($XDG_RUNTIME_DIR),
  // else "parlex-<uid>" in $TMPDIR or /tmp; each made with mode 0700 and
  // used only when it is a real folder of this user that nobody else may
  // enter. Failing both, a new private folder for the rest of the run.
  std::u16string TempDirectory() override;
  // The desktop's pictures folder when it exists, else the home folder.
  std::u16string PicturesDirectory() override;
  bool WriteFile(const std::u16string& path, std::string_view bytes) override;
  // Whatever is at path is unlinked (a link is removed, never followed), then
  // the file is created with O_EXCL | O_NOFOLLOW, mode 0600: a name planted
  // between the two steps makes the write fail rather than go elsewhere.
  bool WritePrivateFile(const std::u16string& path, std::string_view bytes) override;
  void RemoveFile(const std::u16string& path) override;
  // rename(2) that never replaces: RENAME_NOREPLACE, else link + unlink, and
  // across file systems an exclusive copy followed by the unlink.
  bool MoveFile(const std::u16string& from, const std::u16string& to) override;
  bool FileExists(const std::u16string& path) override;
  LocalTime Now() override;
};

}  // namespace parlex::qt
