#include "update/auto_updater.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "common/support_log.h"
#include "common/text.h"
#include "update/executable_check.h"
#include "update/update_texts.h"

namespace parlex::update {

namespace {

constexpr size_t kChunk = 4096;

}  // namespace

ExecutablePathParts SplitExecutablePath(std::u16string_view path, char16_t separator) {
  ExecutablePathParts parts;
  size_t slash = path.rfind(separator);
  if (slash == std::u16string_view::npos) {
    parts.name = path;
  } else {
    parts.directory = path.substr(0, slash);
    parts.name = path.substr(slash + 1);
  }
  size_t dot = parts.name.rfind(u'.');
  if (dot != std::u16string::npos) parts.stem = parts.name.substr(0, dot);
  return parts;
}

std::u16string BackupPath(std::u16string_view executablePath, char16_t separator) {
  ExecutablePathParts parts = SplitExecutablePath(executablePath, separator);
  return parts.directory + separator + parts.stem + kBackupSuffix;
}

std::u16string StagingPath(std::u16string_view executablePath, char16_t separator) {
  ExecutablePathParts parts = SplitExecutablePath(executablePath, separator);
  return parts.directory + separator + parts.stem + kStagingSuffix;
}

namespace {

bool IsWholeFile(IUpdatePlatform& platform, const std::u16string& path) {
  std::unique_ptr<IByteSource> file = platform.OpenFileForRead(path);
  return file != nullptr && IsWholeExecutable(*file);
}

}  // namespace

StartRecovery RecoverInterruptedUpdate(IUpdatePlatform& platform) noexcept {
  try {
    const std::u16string program = platform.OwnPath();
    if (program.empty()) return StartRecovery::kNothing;
    const char16_t separator = platform.PathSeparator();
    const std::u16string backup = BackupPath(program, separator);
    // A new program that never took the program's name may be cut short:
    // it is never used, whatever else is found.
    bool cleared = platform.RemoveFile(StagingPath(program, separator));
    if (IsWholeFile(platform, program)) {
      cleared = platform.RemoveFile(backup) || cleared;
      return cleared ? StartRecovery::kCleared : StartRecovery::kNothing;
    }
    // Only a whole backup is worth more than what stands there now.
    if (!IsWholeFile(platform, backup)) return StartRecovery::kNoWholeProgram;
    platform.RemoveFile(program);
    return platform.RenameFile(backup, program, false) ? StartRecovery::kRestored
                                                       : StartRecovery::kNoWholeProgram;
  } catch (...) {
    // Out of memory this early: the files stay as they are for the next start.
    return StartRecovery::kNothing;
  }
}

std::u16string DownloadProgressText(int64_t received, int64_t announced) {
  std::u16string text = u"已下载 " + Widen(std::to_string(received));
  if (announced >= 0) text += u" / " + Widen(std::to_string(announced));
  return text + u" 字节";
}

int DownloadProgressPermille(int64_t received, int64_t announced) {
  if (announced < 0) return -1;
  if (announced == 0 || received >= announced) return 1000;
  if (received <= 0) return 0;
  return static_cast<int>(static_cast<double>(received) * 1000.0 / static_cast<double>(announced));
}

namespace {

// The whole signature file, at most kMaxSignatureBytes; empty when it cannot
// be fetched, is empty or is longer than any signature.
std::string FetchSignature(IUpdatePlatform& platform, std::u16string url, int waitMs) {
  std::unique_ptr<IRemoteFile> file = platform.OpenRemoteFile(url, waitMs);
  if (!file) return {};
  std::string bytes;
  std::array<char, kMaxSignatureBytes + 1> buffer{};
  for (;;) {
    ptrdiff_t got = file->Read(buffer.data(), buffer.size(), waitMs);
    if (got < 0) return {};
    if (got == 0) break;
    bytes.append(buffer.data(), static_cast<size_t>(got));
    if (bytes.size() > kMaxSignatureBytes) return {};
  }
  if (file->AnnouncedLength() >= 0 && static_cast<int64_t>(bytes.size()) != file->AnnouncedLength())
    return {};
  return bytes;
}

}  // namespace

CAutoUpdater::CAutoUpdater(IUpdatePlatform& platform, IUpdateAgent& agent, UpdateBounds bounds,
                           ISignatureVerifier* verifier)
    : platform_(platform), agent_(agent), bounds_(bounds), verifier_(verifier) {}

UpdateResult CAutoUpdater::RunUpdateCheck(std::u16string_view baseUrl) {
  failing_ = updOpenFailed;
  downloading_.clear();
  try {
    return RunCheckSteps(baseUrl);
  } catch (...) {
    // Whatever went wrong (memory, a thread that could not start), the
    // program must start: the update has failed. A download under way is
    // removed, and should the program's name have been left empty halfway
    // through the swap, the backup goes back.
    try {
      if (!downloading_.empty()) platform_.RemoveFile(downloading_);
      if (failing_ == updNotInstalled) RecoverInterruptedUpdate(platform_);
    } catch (...) {
    }
    supportlog::Error("update", u"the check failed unexpectedly: no update");
    return failing_;
  }
}

UpdateResult CAutoUpdater::RunCheckSteps(std::u16string_view baseUrl) {
  supportlog::Info("update", u"checking " + supportlog::LoggableUrl(baseUrl));
  if (!platform_.IsConnected()) {
    supportlog::Warning("update", u"no network connection: not checked");
    return updOffline;
  }

  std::u16string serverText;
  {
    std::u16string url = std::u16string(baseUrl) + kVersionFileName;
    std::unique_ptr<IRemoteFile> versionFile = platform_.OpenRemoteFile(url, bounds_.checkWaitMs);
    if (!versionFile) {
      supportlog::Warning("update", u"the version file could not be fetched: no update");
      return updOpenFailed;
    }
    // One read counts; the file holds a few characters.
    std::array<char, kChunk> bytes{};
    ptrdiff_t got = versionFile->Read(bytes.data(), bytes.size(), bounds_.checkWaitMs);
    versionFile.reset();
    if (got <= 0) {
      supportlog::Warning("update", u"the version file is empty: no update");
      return updVersionFileEmpty;
    }
    std::string_view text(bytes.data(), static_cast<size_t>(got));
    text = text.substr(0, text.find('\0'));
    // A version text is ASCII digits and dots. Any other byte makes it
    // invalid whatever the code page would make of it (no code page turns
    // non-ASCII bytes into ASCII digits or dots), so widening byte by byte
    // decides exactly as a code-page decoding would.
    serverText = Widen(text);
  }

  // Without its own path the program could neither be versioned nor replaced.
  std::u16string ownPath = platform_.OwnPath();
  if (ownPath.empty()) return updNoOwnVersion;
  std::optional<FileVersion> ownVersion = platform_.ReadFileVersion(ownPath);
  std::u16string ownText = ownVersion ? OwnVersionText(*ownVersion) : std::u16string();
  if (ownText.empty()) {
    supportlog::Error("update", u"this program has no version: no update");
    return updNoOwnVersion;
  }

  // Only a version text is repeated; anything else the server sent is not.
  const bool serverValid = CompareVersionText(serverText, u"0") != -21;
  const std::u16string offered = serverValid ? serverText : u"no version text";
  if (CompareVersionText(serverText, ownText) != 1) {
    supportlog::Info("update", u"server offers " + offered + u", this is " + ownText + u": nothing newer");
    return updNotNewer;
  }
  supportlog::Info("update", u"server offers " + offered + u", newer than " + ownText);

  const char16_t separator = platform_.PathSeparator();
  // Without a temporary folder the name alone would land in whatever folder
  // the program was started from.
  const std::u16string tempDirectory = platform_.TempDirectory();
  if (tempDirectory.empty()) {
    supportlog::Warning("update", u"no temporary folder to download into: no update");
    return updDownloadFailed;
  }
  std::u16string downloaded = tempDirectory + SplitExecutablePath(ownPath, separator).name;

  // A signed build fetches the signature first: without a usable one the
  // program would be refused anyway, so the agent is not asked for nothing.
  std::string signature;
  if (verifier_ != nullptr) {
    std::u16string sigUrl = std::u16string(baseUrl) + platform_.ServerExecutableName() + kSignatureSuffix;
    std::optional<std::string> raw = RawSignature(FetchSignature(platform_, sigUrl, bounds_.checkWaitMs));
    if (!raw) {
      supportlog::Warning("update", u"no usable signature beside the new program: no update");
      return updDownloadFailed;
    }
    signature = std::move(*raw);
  }

  // Opened before the question so that the agent is only asked when the new
  // executable can actually be fetched.
  std::u16string exeUrl = std::u16string(baseUrl) + platform_.ServerExecutableName();
  std::unique_ptr<IRemoteFile> executable = platform_.OpenRemoteFile(exeUrl, bounds_.checkWaitMs);
  if (!executable) {
    supportlog::Warning("update", u"the new program could not be fetched: no update");
    return updOpenFailed;
  }

  if (!agent_.AskToUpdate()) {
    supportlog::Info("update", u"the agent declined the update");
    return updNotInstalled;
  }
  supportlog::Info("update", u"the agent agreed: downloading");

  failing_ = updDownloadFailed;
  downloading_ = downloaded;
  // The window stays up until the replacement is over, whatever its outcome.
  std::unique_ptr<IDownloadProgress> progress = agent_.ShowProgress(executable->AnnouncedLength());
  bool complete = DownloadToFile(*executable, downloaded, progress.get());
  executable.reset();
  if (!complete) {
    supportlog::Warning("update", u"the download failed or is not a whole program: no update");
    return updDownloadFailed;
  }
  // The file lies where only this program writes (a private folder on Linux,
  // the user's own temporary folder on Windows) from here to the move.
  if (verifier_ != nullptr && !verifier_->VerifyFile(downloaded, signature)) {
    platform_.RemoveFile(downloaded);
    supportlog::Error("update", u"the new program's signature does not verify: removed, no update");
    return updDownloadFailed;
  }
  failing_ = updNotInstalled;
  if (!ReplaceExecutable(ownPath, downloaded, false)) {
    supportlog::Error("update", u"the new program could not take the program's place: no update");
    return updNotInstalled;
  }
  supportlog::Info("update", u"installed " + serverText + u"; the program ends for its restart");
  return updInstalled;
}

bool CAutoUpdater::DownloadToFile(IRemoteFile& remote, const std::u16string& path,
                                  IDownloadProgress* progress) {
  std::unique_ptr<ILocalFile> out = platform_.CreateFileForWrite(path);
  if (!out) return false;

  const int64_t announced = remote.AnnouncedLength();
  const std::string_view magic = platform_.ExecutableMagic();
  std::string head;  // the first bytes, to tell an executable from an error page
  int64_t received = 0;
  bool ok = announced <= bounds_.maxDownloadBytes;
  std::array<char, kChunk> buffer{};
  while (ok) {
    ptrdiff_t got = remote.Read(buffer.data(), buffer.size(), bounds_.downloadIdleMs);
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) break;
    if (!out->Write(buffer.data(), static_cast<size_t>(got))) {
      ok = false;
      break;
    }
    if (head.size() < magic.size()) {
      head.append(buffer.data(), std::min(static_cast<size_t>(got), magic.size() - head.size()));
    }
    received += got;
    if ((announced >= 0 && received > announced) || received > bounds_.maxDownloadBytes) {
      ok = false;
      break;
    }
    if (progress != nullptr) progress->Update(received, announced);
  }
  bool closed = out->Close();
  ok = ok && closed;
  if (ok && announced >= 0 && received != announced) ok = false;
  if (ok && head != magic) ok = false;
  if (ok && announced < 0) {
    // Closed before the file goes, where an open file cannot be removed.
    std::unique_ptr<IByteSource> written = platform_.OpenFileForRead(path);
    ok = written != nullptr && IsWholeExecutable(*written);
  }
  // A partial or foreign file must never be taken for the program later.
  if (!ok) platform_.RemoveFile(path);
  return ok;
}

bool CAutoUpdater::ReplaceExecutable(const std::u16string& current, const std::u16string& downloaded,
                                     bool atRestart) {
  const char16_t separator = platform_.PathSeparator();
  const std::u16string backup = BackupPath(current, separator);
  // A backup left by an earlier update must not block the move.
  platform_.RemoveFile(backup);
  if (atRestart) {
    // Nothing has moved yet, so there is nothing to restore or adjust.
    if (!platform_.RenameFile(current, backup, true)) return false;
    return platform_.RenameFile(downloaded, current, true);
  }

  // Beside the program first, with its access rights: from here on every
  // move stays in one folder, and a new program that could not be started
  // never takes the program's name.
  const std::u16string staged = StagingPath(current, separator);
  platform_.RemoveFile(staged);
  if (!platform_.RenameFile(downloaded, staged, false) || !platform_.CopyPermissions(current, staged)) {
    platform_.RemoveFile(staged);
    return false;
  }

  if (platform_.ReplacesByRename()) {
    // The program's name always holds a whole program: the old one is
    // copied aside while it still stands, then the new one replaces it in
    // one step.
    if (!CopyAside(current, backup) || !platform_.CopyPermissions(current, backup)) {
      platform_.RemoveFile(backup);
      platform_.RemoveFile(staged);
      return false;
    }
    if (!platform_.RenameFile(staged, current, false)) {
      platform_.RemoveFile(staged);
      platform_.RemoveFile(backup);
      return false;
    }
    return true;
  }

  // The running program can only be moved aside: its name stands empty for
  // as long as two moves within one folder take.
  if (!platform_.RenameFile(current, backup, false)) {
    platform_.RemoveFile(staged);
    return false;
  }
  if (!platform_.RenameFile(staged, current, false)) {
    // Should the old one not come back either, the new one is tried once
    // more: any whole program under the name beats none.
    if (platform_.RenameFile(backup, current, false)) {
      platform_.RemoveFile(staged);
    } else {
      platform_.RenameFile(staged, current, false);
    }
    return false;
  }
  return true;
}

bool CAutoUpdater::CopyAside(const std::u16string& from, const std::u16string& to) {
  std::unique_ptr<IByteSource> in = platform_.OpenFileForRead(from);
  if (!in) return false;
  std::unique_ptr<ILocalFile> out = platform_.CreateFileForWrite(to);
  if (!out) return false;
  const uint64_t size = in->Size();
  std::vector<char> buffer(65536);
  bool ok = true;
  for (uint64_t done = 0; ok && done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
    ok = in->ReadAt(done, buffer.data(), n) && out->Write(buffer.data(), n);
    done += n;
  }
  ok = out->Close() && ok;
  if (!ok) platform_.RemoveFile(to);
  return ok;
}

}  // namespace parlex::update
