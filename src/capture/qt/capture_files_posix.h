// CaptureFilesPosix: the files and the clock of save and send on Linux. Paths
// are the program's UTF-16 text, written to the file system as UTF-8.
#pragma once

#include "capture/screen_view.h"

namespace parlex::qt {

class CaptureFilesPosix : public ICaptureFiles {
 public:
  // $TMPDIR when it names a folder, else /tmp.
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
