// The files and clock of save and send on Windows.
//
// <windows.h> comes first wherever this is included: its MoveFile macro then
// renames ICaptureFiles::MoveFile and this override alike.
#pragma once

#include <windows.h>

#include "capture/screen_view.h"

namespace parlex::win32 {

class CaptureFilesWin32 : public ICaptureFiles {
 public:
  // GetTempPathW; empty when it answers nothing or a relative path.
  std::u16string TempDirectory() override;
  // SHGetFolderPathW(CSIDL_MYPICTURES), else the user's profile folder.
  std::u16string PicturesDirectory() override;
  bool WriteFile(const std::u16string& path, std::string_view bytes) override;
  bool WritePrivateFile(const std::u16string& path, std::string_view bytes) override;
  void RemoveFile(const std::u16string& path) override;
  bool MoveFile(const std::u16string& from, const std::u16string& to) override;
  bool FileExists(const std::u16string& path) override;
  LocalTime Now() override;
};

}  // namespace parlex::win32
