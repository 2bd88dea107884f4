// The start-up update: asks the update server for its version text and, when
// it is newer than the program's own and the agent agrees, downloads the new
// executable and puts it in place of the running one.
//
// Everything the flow needs from the outside world goes through
// IUpdatePlatform (network, own version, files) and IUpdateAgent (the
// question and the download window), so every result can be produced in a
// test without a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/executable_check.h"
#include "update/update_signature.h"
#include "update/version_text.h"

namespace parlex::update {

// What RunUpdateCheck answers. Only updInstalled ends the program.
enum UpdateResult : int {
  updInstalled = 0,         // the new executable stands in place of the running one
  updOffline = 1,           // no internet session, or the machine has no network
  updOpenFailed = 2,        // the version file or the new executable could not be fetched
  updVersionFileEmpty = 3,  // the version file delivered no bytes
  updDownloadFailed = 4,    // the new executable did not arrive whole
  updNoOwnVersion = 5,      // the running executable has no usable version
  updNotNewer = 6,          // the server's version is not newer, or not a version text
  updNotInstalled = 7,      // the agent declined, or the replacement failed
};

// A remote file whose reply said 200.
class IRemoteFile {
 public:
  virtual ~IRemoteFile() = default;
  // The length the server announced, or -1 when it announced none.
  virtual int64_t AnnouncedLength() const = 0;
  // Reads up to capacity bytes, waiting at most idleMs for the first of
  // them. Answers the count, 0 at the end, -1 on failure or silence.
  virtual ptrdiff_t Read(void* buffer, size_t capacity, int idleMs) = 0;
};

// A local file being written.
class ILocalFile {
 public:
  virtual ~ILocalFile() = default;
  // Answers false unless every byte was written.
  virtual bool Write(const void* data, size_t length) = 0;
  // Flushes and closes; answers false when the data did not all reach the file.
  virtual bool Close() = 0;
};

class IUpdatePlatform {
 public:
  virtual ~IUpdatePlatform() = default;

  // False when there is no internet session or the machine has no network.
  virtual bool IsConnected() = 0;
  // Opens url for reading, waiting at most waitMs for each step (connect,
  // reply). Null unless the reply's status is 200. url is replaced by the
  // form that was actually requested.
  virtual std::unique_ptr<IRemoteFile> OpenRemoteFile(std::u16string& url, int waitMs) = 0;
  // The server's name of the executable, below the update base URL.
  virtual std::u16string ServerExecutableName() = 0;
  // The first bytes every executable of this build starts with.
  virtual std::string_view ExecutableMagic() = 0;

  // Full path of the running executable.
  virtual std::u16string OwnPath() = 0;
  // The file version of the executable at path, none when it has none.
  virtual std::optional<FileVersion> ReadFileVersion(const std::u16string& path) = 0;

  // The temporary directory, ending in a path separator.
  virtual std::u16string TempDirectory() = 0;
  virtual char16_t PathSeparator() = 0;
  // Creates path for writing, replacing any file of that name.
  virtual std::unique_ptr<ILocalFile> CreateFileForWrite(const std::u16string& path) = 0;
  // Opens an existing file for reading at any offset; null when it cannot
  // be opened (no such file).
  virtual std::unique_ptr<IByteSource> OpenFileForRead(const std::u16string& path) = 0;
  virtual bool RemoveFile(const std::u16string& path) = 0;
  // Moves from to to, copying when they lie on different volumes; with
  // atRestart the move is only scheduled for the next system start. Whether
  // an existing to is replaced is the platform's: see ReplacesByRename.
  virtual bool RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) = 0;
  // True when a move within one folder onto an existing file, the running
  // program included, replaces that file in one step: the program's name
  // then never stands empty during an update. Where it is false (the
  // running program cannot be replaced, only moved aside) RenameFile
  // replaces nothing and callers delete first.
  virtual bool ReplacesByRename() = 0;
  // Gives to the access rights of from (a no-op where files carry none).
  virtual bool CopyPermissions(const std::u16string& from, const std::u16string& to) = 0;
};

// The download window shown after the agent said Yes.
class IDownloadProgress {
 public:
  virtual ~IDownloadProgress() = default;
  // received bytes of announced (-1 when the server announced no length).
  // Also keeps the program's windows responsive between chunks.
  virtual void Update(int64_t received, int64_t announced) = 0;
};

class IUpdateAgent {
 public:
  virtual ~IUpdateAgent() = default;
  // Asks whether to update; true for Yes.
  virtual bool AskToUpdate() = 0;
  // Shows the download window; it closes when the object is destroyed.
  virtual std::unique_ptr<IDownloadProgress> ShowProgress(int64_t announced) = 0;
};

// The largest program accepted, in both builds. A server that sends more
// (an endless body, or a length over this) fails the update instead of
// filling the disk; the program is many times smaller.
inline constexpr int64_t kMaxDownloadBytes = int64_t{64} << 20;

// How long the updater waits. The check must not hold up the program's
// start for long when the server is silent; a download may take its time
// but not sit silent forever.
struct UpdateBounds {
  int checkWaitMs = 5000;      // each wait while checking the version and opening the executable
  int downloadIdleMs = 30000;  // silence that fails a download
  int64_t maxDownloadBytes = kMaxDownloadBytes;
};

// Directory, name and stem of an executable path, split at the last
// separator (the directory is empty and the name the whole path when there
// is none); the stem is the name up to its last '.', empty without a '.'.
struct ExecutablePathParts {
  std::u16string directory;
  std::u16string name;
  std::u16string stem;
};
ExecutablePathParts SplitExecutablePath(std::u16string_view path, char16_t separator);

// Where the previous executable is kept: directory, separator, stem and
// ".旧版本"; the extension is replaced, not kept.
std::u16string BackupPath(std::u16string_view executablePath, char16_t separator);

// Where a new program waits beside the running one before it takes its
// name: directory, separator, stem and ".新版本". The moves into place then
// stay within one folder, where each is a single step; a copy from another
// volume can be cut short only under this name, never under the program's.
std::u16string StagingPath(std::u16string_view executablePath, char16_t separator);

// What the start found of an update that was cut short (the process killed,
// the machine off) and what it did about it.
enum class StartRecovery {
  kNothing,         // no leftovers: the program stands whole
  kCleared,         // a whole program stands; a leftover backup or staged file was removed
  kRestored,        // the program was missing or cut short: the backup took its place again
  kNoWholeProgram,  // the program is missing or cut short and no whole backup is there
};

// Run at every start before the update check, when no other copy runs:
// makes sure a whole program stands under the program's name and nothing
// of an earlier update is left. A whole program keeps its name and the
// backup and staged files beside it are removed; a missing or cut-short
// program is replaced by its backup when that is whole. Never throws; what
// cannot be done now is left for the next start.
StartRecovery RecoverInterruptedUpdate(IUpdatePlatform& platform) noexcept;

// The download window's text: "已下载 received / announced 字节", or without
// the announced part when the server announced no length.
std::u16string DownloadProgressText(int64_t received, int64_t announced);
// The bar's position in thousandths, -1 when no length was announced.
int DownloadProgressPermille(int64_t received, int64_t announced);

class CAutoUpdater {
 public:
  // With a verifier the build is a signed one: the program is installed only
  // when "<program name>.sig" verifies over the downloaded bytes. Without
  // one no signature is fetched or looked at.
  CAutoUpdater(IUpdatePlatform& platform, IUpdateAgent& agent, UpdateBounds bounds = {},
               ISignatureVerifier* verifier = nullptr);
  virtual ~CAutoUpdater() = default;
  CAutoUpdater(const CAutoUpdater&) = delete;
  CAutoUpdater& operator=(const CAutoUpdater&) = delete;

  // baseUrl ends in "/"; the check appends its own file names. Nothing is
  // thrown: a failure anywhere (an exception of a platform seam included)
  // is a failed update, and a program still stands under its own name.
  UpdateResult RunUpdateCheck(std::u16string_view baseUrl);

  // Copies the remote file into a new file at path. Fails, removing what was
  // written, when a read fails or stays silent, a write falls short, fewer
  // or more bytes arrive than announced, more than maxDownloadBytes arrive,
  // or the bytes are not an executable of this build's kind. Without an
  // announced length the end of the connection says nothing about
  // completeness: the file written must then form a whole executable (it is
  // checked where it lies, never held in memory). progress may be null.
  bool DownloadToFile(IRemoteFile& remote, const std::u16string& path, IDownloadProgress* progress);

  // Puts downloaded in place of current and keeps current under its backup
  // name. downloaded first moves beside current under its staging name and
  // takes current's access rights. Where a move replaces in one step the
  // old program is copied to the backup and the new one moved over it;
  // elsewhere the old one is moved aside and the new one into its name
  // straight after. A failed step undoes the earlier ones, so the program
  // still stands under its own name; a process killed between two steps
  // leaves what RecoverInterruptedUpdate puts right.
  bool ReplaceExecutable(const std::u16string& current, const std::u16string& downloaded, bool atRestart);

 private:
  // The check's steps. They keep failing_ at what an exception at that point
  // makes of the check, and downloading_ at the file the download writes.
  UpdateResult RunCheckSteps(std::u16string_view baseUrl);
  // Copies from into a new file at to; removes a partial copy.
  bool CopyAside(const std::u16string& from, const std::u16string& to);

  IUpdatePlatform& platform_;
  IUpdateAgent& agent_;
  UpdateBounds bounds_;
  ISignatureVerifier* verifier_;
  UpdateResult failing_ = updOpenFailed;
  std::u16string downloading_;
};

}  // namespace parlex::update
