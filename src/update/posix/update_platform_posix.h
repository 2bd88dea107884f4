// The updater's platform on Linux: remote files over the bounded TCP stream,
// the build's own version, /proc/self/exe, $TMPDIR and rename(2).
#pragma once

#include <string>
#include <vector>

#include "update/auto_updater.h"

namespace parlex::update::posix {

// One address of a network interface, as the connectivity test sees it.
struct InterfaceAddress {
  bool up = false;        // IFF_UP and IFF_RUNNING
  bool loopback = false;  // IFF_LOOPBACK
  bool ipv6 = false;
  bool linkLocal = false;  // 169.254/16 or fe80::/10: present without any network
};

// The machine counts as connected when some interface other than loopback is
// up and running with an address that is not link-local. (A machine whose
// only network is a cable to nowhere still fails here, as it should: such
// an address never comes without a DHCP server or a configured network.)
bool HasNetwork(const std::vector<InterfaceAddress>& addresses);
// The same over the machine's interfaces (getifaddrs).
bool MachineHasNetwork();

class UpdatePlatformPosix : public IUpdatePlatform {
 public:
  UpdatePlatformPosix();
  // Removes the private download folder and whatever is left in it.
  ~UpdatePlatformPosix() override;
  UpdatePlatformPosix(const UpdatePlatformPosix&) = delete;
  UpdatePlatformPosix& operator=(const UpdatePlatformPosix&) = delete;

  bool IsConnected() override;
  std::unique_ptr<IRemoteFile> OpenRemoteFile(std::u16string& url, int waitMs) override;
  std::u16string ServerExecutableName() override;
  std::string_view ExecutableMagic() override;
  std::u16string OwnPath() override;
  // The version the program was built as; the file at path carries none.
  std::optional<FileVersion> ReadFileVersion(const std::u16string& path) override;
  // A folder of this object's own under $TMPDIR (or /tmp), made with
  // mkdtemp at the first call (mode 0700): no other user can block the
  // download's name or swap the file between its check and its move. Empty
  // when it cannot be made.
  std::u16string TempDirectory() override;
  char16_t PathSeparator() override { return u'/'; }
  // A new file only (O_EXCL, no link followed), executable by its owner.
  std::unique_ptr<ILocalFile> CreateFileForWrite(const std::u16string& path) override;
  std::unique_ptr<IByteSource> OpenFileForRead(const std::u16string& path) override;
  bool RemoveFile(const std::u16string& path) override;
  // rename(2); across file systems the file is copied with its permission
  // bits and the source removed. There is no move at the next start here.
  bool RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) override;
  // rename(2) replaces its target in one step, a running program included.
  bool ReplacesByRename() override { return true; }
  bool CopyPermissions(const std::u16string& from, const std::u16string& to) override;

 private:
  std::string privateDir_;
};

}  // namespace parlex::update::posix
