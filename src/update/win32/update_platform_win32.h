// The updater's platform on Windows: WinINet for the remote files, the
// version resource of the program's own module, the temporary directory and
// MoveFileExW.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>

#include "net/win32/internet_handle.h"
#include "update/auto_updater.h"

namespace parlex::update::win32 {

class UpdatePlatformWin32 : public IUpdatePlatform {
 public:
  // Opens the internet session with the agent "AutoUpdateAgent", the
  // pre-configured access, no proxy and no flags. A null session is kept:
  // the check then answers updOffline.
  UpdatePlatformWin32();
  // The session is closed once no call given up on, and no remote file,
  // still uses it.
  ~UpdatePlatformWin32() override = default;
  UpdatePlatformWin32(const UpdatePlatformWin32&) = delete;
  UpdatePlatformWin32& operator=(const UpdatePlatformWin32&) = delete;

  HINTERNET internetHandle() const { return session_ != nullptr ? session_->get() : nullptr; }

  bool IsConnected() override;
  // InternetCanonicalizeUrlW (browser mode) then InternetOpenUrlW with
  // reload | resynchronize | hyperlink | need-file (0x80000C10). The session's
  // timeouts are set to waitMs, and the open is a bounded call given up on
  // after waitMs, since not every host honours those timeouts. Reads are
  // bounded the same way. The waits serve the thread's windows. Only a 200
  // reply opens.
  std::unique_ptr<IRemoteFile> OpenRemoteFile(std::u16string& url, int waitMs) override;
  std::u16string ServerExecutableName() override { return u"Parlex.exe"; }
  std::string_view ExecutableMagic() override { return "MZ"; }
  std::u16string OwnPath() override;
  std::optional<FileVersion> ReadFileVersion(const std::u16string& path) override;
  std::u16string TempDirectory() override;
  char16_t PathSeparator() override { return u'\\'; }
  std::unique_ptr<ILocalFile> CreateFileForWrite(const std::u16string& path) override;
  std::unique_ptr<IByteSource> OpenFileForRead(const std::u16string& path) override;
  bool RemoveFile(const std::u16string& path) override;
  // MoveFileExW with MOVEFILE_COPY_ALLOWED, or MOVEFILE_DELAY_UNTIL_REBOOT
  // when atRestart.
  bool RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) override;
  // The running program's file cannot be replaced, only moved aside.
  bool ReplacesByRename() override { return false; }
  // Files here take their access from the directory they land in.
  bool CopyPermissions(const std::u16string&, const std::u16string&) override { return true; }

 private:
  std::shared_ptr<net::win32::InternetHandle> session_;
};

}  // namespace parlex::update::win32
