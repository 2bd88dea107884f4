// The update flow over an in-memory platform: every result code, the files
// it leaves, the requests it makes and the waits it asks for.
#include "update/auto_updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string_view>

#include "update/executable_images.h"

namespace parlex::update {
namespace {

constexpr char16_t kBase[] = u"http://updates.test/app/";
constexpr char16_t kExe[] = u"D:\\Apps\\Parlex.exe";
constexpr char16_t kBackup[] = u"D:\\Apps\\Parlex.旧版本";
constexpr char16_t kTemp[] = u"C:\\Temp\\";
constexpr char16_t kDownloaded[] = u"C:\\Temp\\Parlex.exe";
constexpr char16_t kStaged[] = u"D:\\Apps\\Parlex.新版本";

struct RemoteContent {
  std::string body;
  int64_t announced = -2;    // -2: the body's own size
  size_t chunk = 4096;       // most bytes per read
  ptrdiff_t failAfter = -1;  // fail the read once this many bytes went out
};

struct Platform;

class FakeRemote : public IRemoteFile {
 public:
  FakeRemote(Platform& p, RemoteContent c) : platform_(p), content_(std::move(c)) {}
  ~FakeRemote() override;
  int64_t AnnouncedLength() const override {
    return content_.announced == -2 ? static_cast<int64_t>(content_.body.size()) : content_.announced;
  }
  ptrdiff_t Read(void* buffer, size_t capacity, int idleMs) override;

 private:
  Platform& platform_;
  RemoteContent content_;
  size_t pos_ = 0;
};

class FakeLocal : public ILocalFile {
 public:
  FakeLocal(Platform& p, std::u16string path) : platform_(p), path_(std::move(path)) {}
  bool Write(const void* data, size_t length) override;
  bool Close() override;

 private:
  Platform& platform_;
  std::u16string path_;
};

// The process ending at once, as a kill leaves the files: thrown by the
// platform right after the file operation it was told to stop after.
struct Killed {};

struct Platform : IUpdatePlatform {
  bool connected = true;
  std::map<std::u16string, RemoteContent> remote;
  std::vector<std::u16string> opened;
  std::vector<int> openWaits;
  std::vector<int> readWaits;
  int openHandles = 0;
  std::optional<FileVersion> ownVersion = FileVersion{1, 0, 1, 0};
  std::u16string ownPath = kExe;
  std::map<std::u16string, std::string> files;
  std::map<std::u16string, int> modes;
  std::set<std::u16string> readOnly;  // paths that cannot be created or moved onto
  std::set<int> failMoves;            // these moves fail (1-based)
  int moves = 0;
  bool failCopyPermissions = false;
  size_t failWriteAt = SIZE_MAX;  // a write that would pass this many bytes comes up short
  bool replaces = false;          // a move onto an existing file replaces it, as rename(2) does
  // The calls-th call of this seam throws std::bad_alloc instead of answering.
  std::string throwIn;
  int throwAt = 1;
  int throwCalls = 0;
  // Every call that changes a file counts; after the killAfter-th the
  // process is gone (0: never).
  int fileOps = 0;
  int killAfter = 0;

  void Seam(std::string_view name) {
    if (name == throwIn && ++throwCalls == throwAt) throw std::bad_alloc();
  }
  void FileOpDone() {
    if (++fileOps == killAfter) throw Killed{};
  }

  bool IsConnected() override {
    Seam("IsConnected");
    return connected;
  }
  std::unique_ptr<IRemoteFile> OpenRemoteFile(std::u16string& url, int waitMs) override {
    Seam("OpenRemoteFile");
    opened.push_back(url);
    openWaits.push_back(waitMs);
    auto it = remote.find(url);
    if (it == remote.end()) return nullptr;
    ++openHandles;
    return std::make_unique<FakeRemote>(*this, it->second);
  }
  std::u16string ServerExecutableName() override { return u"Parlex.exe"; }
  std::string_view ExecutableMagic() override { return "MZ"; }
  std::u16string OwnPath() override {
    Seam("OwnPath");
    return ownPath;
  }
  std::optional<FileVersion> ReadFileVersion(const std::u16string& path) override {
    return path == ownPath ? ownVersion : std::nullopt;
  }
  std::u16string TempDirectory() override { return kTemp; }
  char16_t PathSeparator() override { return u'\\'; }
  std::unique_ptr<ILocalFile> CreateFileForWrite(const std::u16string& path) override {
    Seam("CreateFileForWrite");
    if (readOnly.count(path)) return nullptr;
    files[path].clear();
    modes[path] = 0600;
    FileOpDone();
    return std::make_unique<FakeLocal>(*this, path);
  }
  std::unique_ptr<IByteSource> OpenFileForRead(const std::u16string& path) override {
    Seam("OpenFileForRead");
    struct Bytes : IByteSource {
      std::string bytes;
      uint64_t Size() override { return bytes.size(); }
      bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        if (offset > bytes.size() || length > bytes.size() - offset) return false;
        std::memcpy(buffer, bytes.data() + offset, length);
        return true;
      }
    };
    auto it = files.find(path);
    if (it == files.end()) return nullptr;
    auto file = std::make_unique<Bytes>();
    file->bytes = it->second;
    return file;
  }
  bool RemoveFile(const std::u16string& path) override {
    Seam("RemoveFile");
    modes.erase(path);
    const bool removed = files.erase(path) == 1;
    FileOpDone();
    return removed;
  }
  bool RenameFile(const std::u16string& from, const std::u16string& to, bool) override {
    Seam("RenameFile");
    ++moves;
    if (failMoves.count(moves) || readOnly.count(to) || !files.count(from) ||
        (files.count(to) && !replaces)) {
      return false;
    }
    files[to] = files[from];
    modes[to] = modes[from];
    modes.erase(from);
    files.erase(from);
    FileOpDone();
    return true;
  }
  bool ReplacesByRename() override { return replaces; }
  bool CopyPermissions(const std::u16string& from, const std::u16string& to) override {
    Seam("CopyPermissions");
    if (failCopyPermissions || !modes.count(from) || !modes.count(to)) return false;
    modes[to] = modes[from];
    FileOpDone();
    return true;
  }
};

FakeRemote::~FakeRemote() { --platform_.openHandles; }

ptrdiff_t FakeRemote::Read(void* buffer, size_t capacity, int idleMs) {
  platform_.Seam("Read");
  platform_.readWaits.push_back(idleMs);
  if (content_.failAfter >= 0 && pos_ >= static_cast<size_t>(content_.failAfter)) return -1;
  size_t n = std::min({capacity, content_.chunk, content_.body.size() - pos_});
  std::memcpy(buffer, content_.body.data() + pos_, n);
  pos_ += n;
  return static_cast<ptrdiff_t>(n);
}

bool FakeLocal::Write(const void* data, size_t length) {
  platform_.Seam("Write");
  std::string& f = platform_.files[path_];
  if (f.size() + length > platform_.failWriteAt) {
    f.append(static_cast<const char*>(data), platform_.failWriteAt - f.size());
    return false;
  }
  f.append(static_cast<const char*>(data), length);
  platform_.FileOpDone();
  return true;
}

bool FakeLocal::Close() {
  platform_.Seam("Close");
  return true;
}

struct Agent : IUpdateAgent {
  bool answer = true;
  int asked = 0;
  Platform* platform = nullptr;
  std::vector<std::pair<int64_t, int64_t>> updates;
  int64_t shownWith = -3;
  bool closed = false;
  std::string exeWhenClosed;  // what stood under the executable's name when the window closed

  struct Progress : IDownloadProgress {
    Agent& agent;
    explicit Progress(Agent& a) : agent(a) {}
    ~Progress() override {
      agent.closed = true;
      auto it = agent.platform->files.find(agent.platform->ownPath);
      agent.exeWhenClosed = it == agent.platform->files.end() ? "<none>" : it->second;
    }
    void Update(int64_t received, int64_t announced) override {
      agent.updates.emplace_back(received, announced);
    }
  };

  bool AskToUpdate() override {
    ++asked;
    return answer;
  }
  std::unique_ptr<IDownloadProgress> ShowProgress(int64_t announced) override {
    shownWith = announced;
    return std::make_unique<Progress>(*this);
  }
};

std::string NewExecutable(size_t size) {
  std::string body = "MZ";
  for (size_t i = body.size(); i < size; ++i) body += static_cast<char>('a' + i % 26);
  return body;
}

class UpdateFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    agent.platform = &platform;
    platform.files[kExe] = "old program";
    platform.modes[kExe] = 0755;
    Serve("1.0.1.1", NewExecutable(10000));
  }
  void Serve(std::string versionText, std::string exe) {
    platform.remote[std::u16string(kBase) + u"update.txt"] = {std::move(versionText)};
    platform.remote[std::u16string(kBase) + u"Parlex.exe"] = {std::move(exe)};
  }
  RemoteContent& ExeReply() { return platform.remote[std::u16string(kBase) + u"Parlex.exe"]; }
  UpdateResult Run(UpdateBounds bounds = {}) {
    CAutoUpdater updater(platform, agent, bounds);
    return updater.RunUpdateCheck(kBase);
  }
  // The running executable still stands, unchanged, and nothing else is left.
  void ExpectUntouched() {
    EXPECT_EQ(platform.files[kExe], "old program");
    EXPECT_EQ(platform.files.count(kBackup), 0u);
    EXPECT_EQ(platform.openHandles, 0);
  }

  Platform platform;
  Agent agent;
};

TEST_F(UpdateFlow, InstallsNewerVersion) {
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(platform.opened, (std::vector<std::u16string>{u"http://updates.test/app/update.txt",
                                                          u"http://updates.test/app/Parlex.exe"}));
  EXPECT_EQ(agent.asked, 1);
  EXPECT_EQ(platform.files[kExe], NewExecutable(10000));
  EXPECT_EQ(platform.files[kBackup], "old program");
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);  // moved into place
  // The new program keeps the old one's access rights.
  EXPECT_EQ(platform.modes[kExe], 0755);
  EXPECT_EQ(platform.openHandles, 0);
  // The window saw every chunk and stayed up until the swap was done.
  EXPECT_EQ(agent.shownWith, 10000);
  EXPECT_EQ(agent.updates,
            (std::vector<std::pair<int64_t, int64_t>>{{4096, 10000}, {8192, 10000}, {10000, 10000}}));
  EXPECT_TRUE(agent.closed);
  EXPECT_EQ(agent.exeWhenClosed, NewExecutable(10000));
}

TEST_F(UpdateFlow, WaitsAreBounded) {
  EXPECT_EQ(Run(), updInstalled);
  // The check waits 5 s at most for each step; the download tolerates 30 s of silence.
  EXPECT_EQ(platform.openWaits, (std::vector<int>{5000, 5000}));
  ASSERT_GE(platform.readWaits.size(), 2u);
  EXPECT_EQ(platform.readWaits[0], 5000);
  for (size_t i = 1; i < platform.readWaits.size(); ++i) EXPECT_EQ(platform.readWaits[i], 30000);

  platform.files[kExe] = "old program";
  platform.files.erase(kBackup);
  platform.openWaits.clear();
  platform.readWaits.clear();
  EXPECT_EQ(Run({250, 700}), updInstalled);
  EXPECT_EQ(platform.openWaits, (std::vector<int>{250, 250}));
  EXPECT_EQ(platform.readWaits.front(), 250);
  EXPECT_EQ(platform.readWaits.back(), 700);
}

TEST_F(UpdateFlow, OfflineAsksNothing) {
  platform.connected = false;
  EXPECT_EQ(Run(), updOffline);
  EXPECT_TRUE(platform.opened.empty());
  EXPECT_EQ(agent.asked, 0);
}

TEST_F(UpdateFlow, VersionFileUnreachable) {
  platform.remote.erase(std::u16string(kBase) + u"update.txt");
  EXPECT_EQ(Run(), updOpenFailed);
  EXPECT_EQ(platform.opened.size(), 1u);
  ExpectUntouched();
}

TEST_F(UpdateFlow, VersionFileEmptyOrFailing) {
  Serve("", NewExecutable(100));
  EXPECT_EQ(Run(), updVersionFileEmpty);
  platform.remote[std::u16string(kBase) + u"update.txt"] = {"1.0.1.1", -2, 4096, 0};  // the read fails
  EXPECT_EQ(Run(), updVersionFileEmpty);
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
}

TEST_F(UpdateFlow, OnlyTheFirstReadCounts) {
  // "1.0." then "1.1" in a second read: the check sees "1.0.", which is 1.0.0.0.
  platform.remote[std::u16string(kBase) + u"update.txt"] = {"1.0.1.1", -2, 4};
  EXPECT_EQ(Run(), updNotNewer);
  EXPECT_EQ(platform.readWaits.size(), 1u);
}

TEST_F(UpdateFlow, NoOwnVersion) {
  platform.ownVersion = std::nullopt;
  EXPECT_EQ(Run(), updNoOwnVersion);
  platform.ownVersion = FileVersion{0, 0, 0, 0};
  EXPECT_EQ(Run(), updNoOwnVersion);
  // A path that cannot be found is no program to version or replace.
  platform.ownVersion = FileVersion{1, 0, 1, 0};
  platform.ownPath.clear();
  EXPECT_EQ(Run(), updNoOwnVersion);
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
}

TEST_F(UpdateFlow, NotNewer) {
  for (const char* text : {"1.0.1.0", "1.0.0.9", "0.9", "abc", "1.0.1.1\r\n", "1.0.1.1\n", "1.0.0.0.1",
                           " 1.0.1.1", "<html>404</html>"}) {
    SCOPED_TRACE(text);
    Serve(text, NewExecutable(100));
    platform.opened.clear();
    EXPECT_EQ(Run(), updNotNewer);
    EXPECT_EQ(platform.opened.size(), 1u);  // the executable is not even opened
  }
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
}

TEST_F(UpdateFlow, NewerTexts) {
  // Own 1.0.1.0. "2" is 2.0.0.0; text after a zero byte is not part of the version.
  for (std::string text : {std::string("2"), std::string("1.0.1.1\0junk", 12), std::string("1..1"),
                           std::string("1.0.65536"), std::string("1.0.1.99999999999")}) {
    SCOPED_TRACE(text);
    Serve(text, NewExecutable(100));
    agent.answer = false;
    EXPECT_EQ(Run(), updNotInstalled);
  }
  EXPECT_EQ(agent.asked, 5);
}

TEST_F(UpdateFlow, OwnVersionWithTwoGroups) {
  platform.ownVersion = FileVersion{1, 9, 0, 0};
  Serve("1.10", NewExecutable(100));
  EXPECT_EQ(Run(), updInstalled);
  platform.files[kExe] = "old program";
  platform.files.erase(kBackup);
  Serve("1.9", NewExecutable(100));
  EXPECT_EQ(Run(), updNotNewer);
}

TEST_F(UpdateFlow, ExecutableUnreachableAsksNothing) {
  platform.remote.erase(std::u16string(kBase) + u"Parlex.exe");
  EXPECT_EQ(Run(), updOpenFailed);
  EXPECT_EQ(platform.opened.size(), 2u);
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
}

TEST_F(UpdateFlow, AgentSaysNo) {
  agent.answer = false;
  EXPECT_EQ(Run(), updNotInstalled);
  EXPECT_EQ(agent.asked, 1);
  EXPECT_EQ(agent.shownWith, -3);  // no download window
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
}

TEST_F(UpdateFlow, DownloadShortOfAnnouncedLength) {
  ExeReply().announced = 20000;
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);  // the partial file is removed
  EXPECT_FALSE(agent.updates.empty());
  EXPECT_TRUE(agent.closed);
  ExpectUntouched();
}

TEST_F(UpdateFlow, DownloadLongerThanAnnounced) {
  ExeReply().announced = 5000;
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
}

TEST_F(UpdateFlow, DownloadReadFails) {
  ExeReply().failAfter = 8192;
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
}

TEST_F(UpdateFlow, DownloadIsNotAnExecutable) {
  Serve("1.0.1.1", "<html><body>Not Found</body></html>");
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
  // One byte of the mark is not the mark, even split over reads.
  Serve("1.0.1.1", "M");
  EXPECT_EQ(Run(), updDownloadFailed);
  Serve("1.0.1.1", "MZ");
  ExeReply().chunk = 1;
  EXPECT_EQ(Run(), updInstalled);
}

TEST_F(UpdateFlow, DownloadWithoutAnnouncedLength) {
  // Only a whole program is taken when the end of the connection is the
  // only end there is.
  Serve("1.0.1.1", testing::MinimalPe(9488));
  ExeReply().announced = -1;
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(agent.shownWith, -1);
  EXPECT_EQ(agent.updates.back(), (std::pair<int64_t, int64_t>{10000, -1}));
  EXPECT_EQ(platform.files[kExe], testing::MinimalPe(9488));
}

TEST_F(UpdateFlow, DownloadCutShortWithoutLengthIsNotInstalled) {
  // A dropped link: the first 4 KiB, then the close.
  Serve("1.0.1.1", testing::MinimalPe(9488).substr(0, 4096));
  ExeReply().announced = -1;
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
  // The magic alone was enough before; a body that merely starts right is not.
  Serve("1.0.1.1", NewExecutable(10000));
  ExeReply().announced = -1;
  EXPECT_EQ(Run(), updDownloadFailed);
  ExpectUntouched();
}

TEST_F(UpdateFlow, DownloadIsCapped) {
  UpdateBounds small;
  small.maxDownloadBytes = 20000;
  Serve("1.0.1.1", testing::MinimalPe(30000));
  ExeReply().announced = -1;
  EXPECT_EQ(Run(small), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
  // An announced length over the cap fails before a byte is kept.
  ExeReply().announced = -2;
  EXPECT_EQ(Run(small), updDownloadFailed);
  ExpectUntouched();
  EXPECT_EQ(Run(), updInstalled);
}

TEST_F(UpdateFlow, NoTemporaryFolderAsksNothing) {
  struct NoTemp : Platform {
    std::u16string TempDirectory() override { return {}; }
  };
  NoTemp noTemp;
  noTemp.files = platform.files;
  noTemp.modes = platform.modes;
  noTemp.remote = platform.remote;
  CAutoUpdater updater(noTemp, agent);
  EXPECT_EQ(updater.RunUpdateCheck(kBase), updDownloadFailed);
  EXPECT_EQ(agent.asked, 0);
  EXPECT_EQ(noTemp.files[kExe], "old program");
  EXPECT_EQ(noTemp.files.size(), 1u);
}

TEST_F(UpdateFlow, DownloadCannotBeWritten) {
  platform.failWriteAt = 5000;
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  ExpectUntouched();
  platform.failWriteAt = SIZE_MAX;
  platform.readOnly.insert(kDownloaded);
  EXPECT_EQ(Run(), updDownloadFailed);
  ExpectUntouched();
}

TEST_F(UpdateFlow, EarlierBackupIsReplaced) {
  platform.files[kBackup] = "older program";
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(platform.files[kBackup], "old program");
}

TEST_F(UpdateFlow, RenamedExecutable) {
  platform.files.clear();
  platform.ownPath = u"D:\\Apps\\Chat.exe";
  platform.files[platform.ownPath] = "old program";
  platform.modes[platform.ownPath] = 0700;
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(platform.files[u"D:\\Apps\\Chat.exe"], NewExecutable(10000));
  EXPECT_EQ(platform.files[u"D:\\Apps\\Chat.旧版本"], "old program");
  EXPECT_EQ(platform.files.size(), 2u);
  EXPECT_EQ(platform.modes[u"D:\\Apps\\Chat.exe"], 0700);
}

TEST_F(UpdateFlow, ExecutableWithoutExtension) {
  platform.files.clear();
  platform.ownPath = u"D:\\Apps\\Parlex";
  platform.files[platform.ownPath] = "old program";
  platform.modes[platform.ownPath] = 0755;
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(platform.files[u"D:\\Apps\\.旧版本"], "old program");
  EXPECT_EQ(platform.files[u"D:\\Apps\\Parlex"], NewExecutable(10000));
}

TEST_F(UpdateFlow, FirstMoveFails) {
  for (bool replaces : {false, true}) {
    SCOPED_TRACE(replaces);
    platform.replaces = replaces;
    platform.moves = 0;
    platform.failMoves = {1};
    EXPECT_EQ(Run(), updNotInstalled);
    ExpectUntouched();
    EXPECT_EQ(platform.files.count(kStaged), 0u);
    EXPECT_TRUE(agent.closed);
  }
}

TEST_F(UpdateFlow, MoveIntoPlaceFailsAndIsUndone) {
  // Moves: the download beside the program, (the old one aside,) the new one in.
  for (bool replaces : {false, true}) {
    SCOPED_TRACE(replaces);
    platform.replaces = replaces;
    platform.moves = 0;
    platform.failMoves = {replaces ? 2 : 3};
    EXPECT_EQ(Run(), updNotInstalled);
    // The program still stands under its own name, and nothing else is left.
    ExpectUntouched();
    EXPECT_EQ(platform.files.count(kStaged), 0u);
    EXPECT_EQ(platform.modes[kExe], 0755);
    EXPECT_EQ(agent.exeWhenClosed, "old program");
  }
}

TEST_F(UpdateFlow, PermissionsThatCannotBeKeptLeaveTheProgramAlone) {
  platform.failCopyPermissions = true;
  EXPECT_EQ(Run(), updNotInstalled);
  ExpectUntouched();
  EXPECT_EQ(platform.modes[kExe], 0755);
  EXPECT_EQ(platform.files.count(kDownloaded), 0u);
  EXPECT_EQ(platform.files.count(kStaged), 0u);
  EXPECT_EQ(platform.moves, 1);  // the old program never moved
}

TEST_F(UpdateFlow, AFailedRestoreNeverLeavesNoProgram) {
  // The new program does not go in and the old one does not come back:
  // the new one is tried once more rather than leave nothing at all.
  platform.failMoves = {3, 4};
  EXPECT_EQ(Run(), updNotInstalled);
  EXPECT_EQ(platform.files[kExe], NewExecutable(10000));
  EXPECT_EQ(platform.files[kBackup], "old program");
  EXPECT_EQ(platform.files.count(kStaged), 0u);
}

TEST(ReplaceExecutable, AtRestartOnlySchedules) {
  Platform platform;
  Agent agent;
  platform.files[kExe] = "old";
  platform.files[kDownloaded] = "MZnew";
  platform.modes[kExe] = 0755;
  platform.modes[kDownloaded] = 0600;
  CAutoUpdater updater(platform, agent);
  platform.failMoves = {2};
  // A scheduled move cannot be undone now: the answer is just the failure.
  EXPECT_FALSE(updater.ReplaceExecutable(kExe, kDownloaded, true));
  EXPECT_EQ(platform.moves, 2);
}

TEST_F(UpdateFlow, AnExceptionInAnySeamIsAFailedUpdateAndTheProgramStands) {
  const std::string old = testing::MinimalPe(3000);
  struct Case {
    const char* seam;
    int call;
    bool lengthless;  // the program comes without a length (its structure is read back)
    UpdateResult expected;
  };
  // Moves where the old program is moved aside: the download beside the
  // program, the old one aside, the new one in.
  const Case cases[] = {
      {"IsConnected", 1, false, updOpenFailed},    {"OpenRemoteFile", 1, false, updOpenFailed},
      {"Read", 1, false, updOpenFailed},           {"OwnPath", 1, false, updOpenFailed},
      {"OpenRemoteFile", 2, false, updOpenFailed}, {"Read", 3, false, updDownloadFailed},
      {"Write", 2, false, updDownloadFailed},      {"OpenFileForRead", 1, true, updDownloadFailed},
      {"RenameFile", 1, false, updNotInstalled},   {"CopyPermissions", 1, false, updNotInstalled},
      {"RenameFile", 2, false, updNotInstalled},   {"RenameFile", 3, false, updNotInstalled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.seam) + " #" + std::to_string(c.call));
    platform.files = {{kExe, old}};
    platform.modes = {{kExe, 0755}};
    platform.moves = 0;
    platform.throwIn = c.seam;
    platform.throwAt = c.call;
    platform.throwCalls = 0;
    ExeReply().announced = c.lengthless ? -1 : -2;
    agent.closed = false;
    EXPECT_EQ(Run(), c.expected);
    EXPECT_GE(platform.throwCalls, c.call);  // the seam was reached and threw
    // Whatever the point, the old program stands whole under its name and
    // nothing of the attempt is left: no download, no staged or backup file.
    EXPECT_EQ(platform.files[kExe], old);
    EXPECT_EQ(platform.files.size(), 1u);
    EXPECT_EQ(platform.openHandles, 0);
    if (c.expected != updOpenFailed) {
      EXPECT_TRUE(agent.closed);
    }
  }
}

// Recovery at start over the files an interrupted update can leave.
TEST(StartRecovery, AWholeProgramStandsAndNothingIsLeft) {
  const std::string old = testing::MinimalPe(3000);
  const std::string fresh = testing::MinimalPe(5000);
  struct Case {
    const char* what;
    std::map<std::u16string, std::string> before;
    StartRecovery expected;
    std::map<std::u16string, std::string> after;
  };
  const Case cases[] = {
      {"nothing to do", {{kExe, old}}, StartRecovery::kNothing, {{kExe, old}}},
      {"a backup and a staged program beside a whole program",
       {{kExe, fresh}, {kBackup, old}, {kStaged, fresh.substr(0, 100)}},
       StartRecovery::kCleared,
       {{kExe, fresh}}},
      {"the name empty, both programs beside it",
       {{kBackup, old}, {kStaged, fresh}},
       StartRecovery::kRestored,
       {{kExe, old}}},
      {"a cut-short program",
       {{kExe, fresh.substr(0, 4096)}, {kBackup, old}},
       StartRecovery::kRestored,
       {{kExe, old}}},
      {"a cut-short backup is no better",
       {{kBackup, old.substr(0, 600)}},
       StartRecovery::kNoWholeProgram,
       {{kBackup, old.substr(0, 600)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Platform platform;
    platform.files = c.before;
    for (const auto& [path, bytes] : c.before) platform.modes[path] = 0755;
    EXPECT_EQ(RecoverInterruptedUpdate(platform), c.expected);
    EXPECT_EQ(platform.files, c.after);
  }
}

// The swap killed after each of its file operations in turn, then the
// next start's recovery: a whole program, old or new, always stands under
// the program's name and no backup or staged file is left.
TEST(StartRecovery, ASwapKilledAfterAnyStepIsPutRight) {
  const std::string old = testing::MinimalPe(3000);
  const std::string fresh = testing::MinimalPe(5000);
  for (bool replaces : {false, true}) {
    SCOPED_TRACE(replaces);
    int emptyAfter = 0;
    int killedAt = 1;
    for (;; ++killedAt) {
      SCOPED_TRACE(killedAt);
      Platform platform;
      Agent agent;
      platform.replaces = replaces;
      platform.files = {{kExe, old}, {kDownloaded, fresh}};
      platform.modes = {{kExe, 0755}, {kDownloaded, 0600}};
      platform.killAfter = killedAt;
      CAutoUpdater updater(platform, agent);
      bool finished = false;
      try {
        EXPECT_TRUE(updater.ReplaceExecutable(kExe, kDownloaded, false));
        finished = true;
      } catch (const Killed&) {
      }
      emptyAfter += platform.files.count(kExe) == 0 ? 1 : 0;
      platform.killAfter = 0;
      RecoverInterruptedUpdate(platform);
      ASSERT_TRUE(platform.files.count(kExe));
      EXPECT_TRUE(platform.files[kExe] == old || platform.files[kExe] == fresh);
      if (finished) {
        EXPECT_EQ(platform.files[kExe], fresh);
      }
      EXPECT_EQ(platform.modes[kExe], 0755);
      EXPECT_EQ(platform.files.count(kBackup), 0u);
      EXPECT_EQ(platform.files.count(kStaged), 0u);
      if (finished) break;
    }
    // Remove, stage, permissions and two moves at the least.
    EXPECT_GE(killedAt, 5);
    // Only moving the running program aside leaves its name empty, for
    // the one step between the two moves.
    EXPECT_EQ(emptyAfter, replaces ? 0 : 1);
  }
}

// A signed build: the verifier stands for the update key; it accepts a
// signature only for the bytes that signature was made over.
struct FakeVerifier : ISignatureVerifier {
  Platform* platform = nullptr;
  std::map<std::string, std::string> signedBodies;  // raw signature -> bytes it signs
  std::vector<std::string> seen;
  bool VerifyFile(const std::u16string& path, std::string_view rawSignature) override {
    seen.emplace_back(rawSignature);
    auto file = platform->files.find(path);
    auto body = signedBodies.find(std::string(rawSignature));
    return file != platform->files.end() && body != signedBodies.end() && body->second == file->second;
  }
};

// DER of a signature whose r has its high bit set (a leading zero byte) and
// whose s is short (padded back to 32 bytes in the raw form).
std::string Der(char rFill, char sFill, size_t sLength = 31) {
  std::string r = std::string(1, '\0') + std::string(1, '\x80') + std::string(31, rFill);
  std::string s(sLength, sFill);
  std::string body = "\x02" + std::string(1, static_cast<char>(r.size())) + r + "\x02" +
                     std::string(1, static_cast<char>(s.size())) + s;
  return "\x30" + std::string(1, static_cast<char>(body.size())) + body;
}
std::string RawOf(char rFill, char sFill, size_t sLength = 31) {
  return std::string(1, '\x80') + std::string(31, rFill) + std::string(32 - sLength, '\0') +
         std::string(sLength, sFill);
}

class SignedUpdate : public UpdateFlow {
 protected:
  void SetUp() override {
    UpdateFlow::SetUp();
    verifier.platform = &platform;
    verifier.signedBodies[RawOf('a', 'b')] = NewExecutable(10000);
    verifier.signedBodies[RawOf('c', 'd')] = NewExecutable(777);
    ServeSignature(Der('a', 'b'));
  }
  void ServeSignature(std::string bytes) { SigReply() = {std::move(bytes)}; }
  RemoteContent& SigReply() { return platform.remote[std::u16string(kBase) + u"Parlex.exe.sig"]; }
  UpdateResult RunSigned() {
    CAutoUpdater updater(platform, agent, {}, &verifier);
    return updater.RunUpdateCheck(kBase);
  }
  // Refused: nothing installed, no download left, the program as it was.
  void ExpectRefused() {
    EXPECT_EQ(RunSigned(), updDownloadFailed);
    EXPECT_EQ(platform.files.count(kDownloaded), 0u);
    ExpectUntouched();
    EXPECT_EQ(platform.modes[kExe], 0755);
  }
  FakeVerifier verifier;
};

TEST_F(SignedUpdate, ValidSignatureInstalls) {
  EXPECT_EQ(RunSigned(), updInstalled);
  EXPECT_EQ(platform.opened, (std::vector<std::u16string>{u"http://updates.test/app/update.txt",
                                                          u"http://updates.test/app/Parlex.exe.sig",
                                                          u"http://updates.test/app/Parlex.exe"}));
  EXPECT_EQ(verifier.seen, std::vector<std::string>{RawOf('a', 'b')});
  EXPECT_EQ(platform.files[kExe], NewExecutable(10000));
  EXPECT_EQ(platform.files[kBackup], "old program");
  EXPECT_EQ(agent.asked, 1);
  EXPECT_EQ(platform.openHandles, 0);
  // The raw form r || s is taken as it is.
  platform.files = {{kExe, "old program"}};
  ServeSignature(RawOf('a', 'b'));
  EXPECT_EQ(RunSigned(), updInstalled);
  EXPECT_EQ(platform.files[kExe], NewExecutable(10000));
}

TEST_F(SignedUpdate, WrongSignatureIsRefusedAfterOneQuestion) {
  ServeSignature(Der('a', 'e'));
  ExpectRefused();
  EXPECT_EQ(agent.asked, 1);
  EXPECT_EQ(verifier.seen.size(), 1u);
}

TEST_F(SignedUpdate, SignatureOfAnotherFileIsRefused) {
  ServeSignature(Der('c', 'd'));  // a valid signature, of the 777-byte program
  ExpectRefused();
}

TEST_F(SignedUpdate, MissingOrMalformedSignatureAsksNothing) {
  std::string der = Der('a', 'b');
  std::vector<std::string> bad = {"",
                                  der.substr(0, der.size() - 1),
                                  der + "x",
                                  RawOf('a', 'b').substr(0, 63),
                                  "<html>404</html>",
                                  std::string(300, '\x30')};
  for (const std::string& served : bad) {
    SCOPED_TRACE(served.size());
    ServeSignature(served);
    ExpectRefused();
  }
  // A signature that stops short of its announced length is cut off.
  ServeSignature(der);
  SigReply().announced = static_cast<int64_t>(der.size()) + 5;
  ExpectRefused();
  SigReply() = {der, -2, 4096, 10};  // the read fails after 10 bytes
  ExpectRefused();
  platform.remote.erase(std::u16string(kBase) + u"Parlex.exe.sig");  // 404
  ExpectRefused();
  EXPECT_EQ(agent.asked, 0);
  EXPECT_TRUE(verifier.seen.empty());
  // The program itself was never even opened.
  EXPECT_EQ(std::count(platform.opened.begin(), platform.opened.end(), u"http://updates.test/app/Parlex.exe"),
            0);
}

TEST_F(SignedUpdate, WithoutVerifierNoSignatureIsFetched) {
  ServeSignature(Der('x', 'y'));  // would be refused by a signed build
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(platform.opened, (std::vector<std::u16string>{u"http://updates.test/app/update.txt",
                                                          u"http://updates.test/app/Parlex.exe"}));
}

TEST(RawSignature, DerAndRawForms) {
  EXPECT_EQ(RawSignature(Der('a', 'b')), RawOf('a', 'b'));
  EXPECT_EQ(RawSignature(Der('a', 'b', 32)), RawOf('a', 'b', 32));
  EXPECT_EQ(RawSignature(std::string(64, '\x11')), std::string(64, '\x11'));
  std::string der = Der('a', 'b');
  // Not minimal, negative, zero, too long an integer, trailing bytes, long-form lengths.
  std::string padded = der;
  padded.insert(padded.find("\x02", 3) + 2, 1, '\0');
  padded[padded.find("\x02", 3) + 1]++;
  padded[1]++;
  EXPECT_FALSE(RawSignature(padded));
  std::string negative = der;
  negative[4] = '\x80';
  EXPECT_FALSE(RawSignature(negative));
  EXPECT_FALSE(RawSignature(std::string("\x30\x06\x02\x01\x00\x02\x01\x01", 8)));
  EXPECT_FALSE(RawSignature("\x30\x81" + der.substr(1)));
  EXPECT_FALSE(RawSignature(std::string(65, '\x11')));
  std::string big = "\x02\x21" + std::string(1, '\x01') + std::string(32, 'z');
  std::string s = "\x02\x01\x01";
  EXPECT_FALSE(RawSignature("\x30" + std::string(1, static_cast<char>(big.size() + s.size())) + big + s));
}

}  // namespace
}  // namespace parlex::update
