// The Windows updater through WinINet against a loopback update server this
// test starts, with real files in a temporary folder standing in for the
// running program. Message boxes are found and answered by a watcher thread.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/text.h"
#include "update/executable_check.h"
#include "support/loopback_server.h"
#include "update/win32/update_agent_win32.h"
#include "update/win32/update_platform_win32.h"

namespace parlex::update::win32 {
namespace {

using test::LoopbackServer;
using test::Reply;

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::string ReadAll(const std::u16string& path) {
  HANDLE f = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<none>";
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(f);
  return data;
}

void WriteAll(const std::u16string& path, const std::string& data) {
  HANDLE f = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(f);
}

bool Exists(const std::u16string& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

std::string Pe(size_t size) {
  std::string body = "MZ";
  body.resize(size, '\x90');
  return body;
}

std::u16string WindowText(HWND w) {
  wchar_t text[512] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 3000, &ignored);
  return reinterpret_cast<const char16_t*>(text);
}

// Watches for the updater's boxes and window from a second thread, the way
// the agent would see them, and answers each box with one button.
class Watcher {
 public:
  struct SeenBox {
    std::u16string title;
    std::u16string text;
    bool owned = false;
    bool informationIcon = false;
    bool questionIcon = false;
  };

  explicit Watcher(int answer) : answer_(answer), thread_([this] { Run(); }) {}
  ~Watcher() {
    stop_ = true;
    thread_.join();
  }

  std::vector<SeenBox> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  std::vector<std::pair<std::u16string, int>> Progress() {
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
  }

 private:
  static BOOL CALLBACK Visit(HWND w, LPARAM self) {
    reinterpret_cast<Watcher*>(self)->Look(w);
    return TRUE;
  }

  void Run() {
    // Bounded: a box nobody answers would hang the test.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
      Sleep(10);
    }
  }

  void Look(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return;
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    if (lstrcmpW(cls, L"#32770") == 0) {
      SeenBox box;
      box.title = WindowText(w);
      box.text = WindowText(GetDlgItem(w, 0xFFFF));
      box.owned = GetWindow(w, GW_OWNER) != nullptr;
      for (HWND child = GetWindow(w, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        DWORD_PTR icon = 0;
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 3000, &icon) && icon != 0) {
          box.informationIcon |= reinterpret_cast<HICON>(icon) == LoadIconW(nullptr, IDI_INFORMATION);
          box.questionIcon |= reinterpret_cast<HICON>(icon) == LoadIconW(nullptr, IDI_QUESTION);
        }
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!boxes_.empty() && answered_ == w) return;  // still closing
        boxes_.push_back(box);
        answered_ = w;
      }
      HWND button = GetDlgItem(w, answer_);
      if (button == nullptr) button = GetDlgItem(w, IDOK);
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    } else if (lstrcmpW(cls, kProgressWindowClass) == 0) {
      HWND label = nullptr;
      HWND bar = nullptr;
      for (HWND child = GetWindow(w, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t childClass[64] = {};
        GetClassNameW(child, childClass, 64);
        if (lstrcmpiW(childClass, L"Static") == 0) label = child;
        if (lstrcmpiW(childClass, PROGRESS_CLASSW) == 0) bar = child;
      }
      if (label == nullptr || bar == nullptr) return;
      std::u16string text = WindowText(label);
      if (text.empty()) return;  // the window is going away
      DWORD_PTR pos = 0;
      SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 3000, &pos);
      std::lock_guard<std::mutex> lock(mutex_);
      if (progress_.empty() || progress_.back().first != text)
        progress_.emplace_back(text, static_cast<int>(pos));
    }
  }

  int answer_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<SeenBox> boxes_;
  HWND answered_ = nullptr;
  std::vector<std::pair<std::u16string, int>> progress_;
  std::thread thread_;
};

// The real platform, except that the "running program" is a copy of this
// test program in a folder of the test's.
class TestPlatform : public UpdatePlatformWin32 {
 public:
  std::u16string exe;
  int failMoveNumber = 0;
  int moves = 0;
  std::u16string OwnPath() override { return exe; }
  bool RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) override {
    if (++moves == failMoveNumber) return false;
    return UpdatePlatformWin32::RenameFile(from, to, atRestart);
  }
};

class Win32Update : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tempPath[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tempPath);
    dir = reinterpret_cast<const char16_t*>(tempPath);
    dir += u"parlex-update-" + FormatDecimal(static_cast<int32_t>(GetCurrentProcessId())) + u"-" +
           FormatDecimal(counter_++);
    CreateDirectoryW(W(dir), nullptr);
    platform.exe = dir + u"\\Parlex.exe";
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, W(platform.exe), FALSE));
    original = ReadAll(platform.exe);
    downloaded = platform.TempDirectory() + u"Parlex.exe";
    DeleteFileW(W(downloaded));
    ASSERT_TRUE(server.Start());
    server.Set("update/update.txt", Reply{200, "1.2.0.1"});  // this program is 1.2.0.0
    server.Set("update/Parlex.exe", Reply{200, Pe(50000), -2, false, 8192, 400});
  }
  void TearDown() override {
    server.Stop();
    for (const char16_t* name :
         {u"\\Parlex.exe", u"\\Parlex.旧版本", u"\\Chat.exe", u"\\Chat.旧版本", u"\\Parlex", u"\\.旧版本"}) {
      DeleteFileW(W(dir + name));
    }
    RemoveDirectoryW(W(dir));
    DeleteFileW(W(downloaded));
  }
  UpdateResult Run(UpdateBounds bounds = {}) {
    CAutoUpdater updater(platform, agent, bounds);
    return updater.RunUpdateCheck(FromUtf8(server.UrlText("update/")));
  }
  void ExpectUntouched() {
    EXPECT_TRUE(ReadAll(platform.exe) == original);
    EXPECT_FALSE(Exists(dir + u"\\Parlex.旧版本"));
    EXPECT_FALSE(Exists(downloaded));
  }

  static inline int counter_ = 0;
  std::u16string dir;
  std::u16string downloaded;
  std::string original;
  LoopbackServer server;
  TestPlatform platform;
  UpdateAgentWin32 agent;
};

TEST_F(Win32Update, OwnThings) {
  // The version resource of this program, 1.2.0.0, reads as "1.2".
  std::optional<FileVersion> v = platform.ReadFileVersion(platform.exe);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(OwnVersionText(*v), u"1.2");
  WriteAll(dir + u"\\Parlex", "no resources here");
  EXPECT_FALSE(platform.ReadFileVersion(dir + u"\\Parlex").has_value());
  EXPECT_FALSE(platform.ReadFileVersion(dir + u"\\missing.exe").has_value());
  // The real own path is this program's module.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(platform.UpdatePlatformWin32::OwnPath(), reinterpret_cast<const char16_t*>(self));
  std::u16string temp = platform.TempDirectory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_NE(platform.internetHandle(), nullptr);
}

TEST_F(Win32Update, OpensOnlyTwoHundredAndCanonicalises) {
  server.Set("a%20b/f.txt", Reply{200, "x"});  // the server sees the encoded path
  std::u16string url = FromUtf8(server.UrlText("a b/../a b/f.txt"));
  std::unique_ptr<IRemoteFile> f = platform.OpenRemoteFile(url, 5000);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(url, FromUtf8(server.UrlText("a%20b/f.txt")));
  EXPECT_EQ(f->AnnouncedLength(), 1);
  char buffer[16];
  EXPECT_EQ(f->Read(buffer, sizeof buffer, 5000), 1);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(f->Read(buffer, sizeof buffer, 5000), 0);
  f.reset();
  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find(' ', 4)), "GET /a%20b/f.txt");
  EXPECT_NE(requests[0].find("User-Agent: AutoUpdateAgent\r\n"), std::string::npos);

  std::u16string missing = FromUtf8(server.UrlText("nothing-here"));
  EXPECT_EQ(platform.OpenRemoteFile(missing, 5000), nullptr);
  server.Set("err", Reply{500, "oops"});
  std::u16string error = FromUtf8(server.UrlText("err"));
  EXPECT_EQ(platform.OpenRemoteFile(error, 5000), nullptr);
}

TEST_F(Win32Update, YesInstallsWithTheDownloadWindowShowing) {
  {
    Watcher watcher(IDYES);
    EXPECT_EQ(Run(), updInstalled);
    std::vector<Watcher::SeenBox> boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, u"更新提醒");
    EXPECT_EQ(boxes[0].text, u"检测到新版本，是否更新?");
    EXPECT_TRUE(boxes[0].questionIcon);
    EXPECT_FALSE(boxes[0].owned);
    bool partWay = false;
    for (const auto& [text, pos] : watcher.Progress()) {
      if (text == u"已下载 0 / 50000 字节" || text == u"已下载 50000 / 50000 字节") continue;
      ASSERT_EQ(text.substr(0, 4), u"已下载 ") << ToUtf8(text);
      ASSERT_EQ(text.substr(text.size() - 11), u" / 50000 字节") << ToUtf8(text);
      int received = std::stoi(ToUtf8(text.substr(4, text.size() - 15)));
      EXPECT_GT(received, 0);
      EXPECT_LT(received, 50000);
      // The bar is read just after the text and may already be one chunk on.
      EXPECT_GE(pos, received * 1000LL / 50000);
      EXPECT_LE(pos, 1000);
      partWay = true;
    }
    EXPECT_TRUE(partWay);
  }
  EXPECT_TRUE(ReadAll(platform.exe) == Pe(50000));
  EXPECT_TRUE(ReadAll(dir + u"\\Parlex.旧版本") == original);
  EXPECT_FALSE(Exists(downloaded));
  EXPECT_EQ(FindWindowW(kProgressWindowClass, nullptr), nullptr);
  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find(' ', 4)), "GET /update/update.txt");
  EXPECT_EQ(requests[1].substr(0, requests[1].find(' ', 4)), "GET /update/Parlex.exe");
}

TEST_F(Win32Update, NoLeavesTheProgramAlone) {
  Watcher watcher(IDNO);
  EXPECT_EQ(Run(), updNotInstalled);
  EXPECT_EQ(watcher.Boxes().size(), 1u);
  EXPECT_TRUE(watcher.Progress().empty());
  ExpectUntouched();
}

TEST_F(Win32Update, ErrorReplyIsNeverInstalled) {
  Watcher watcher(IDYES);
  server.Set("update/Parlex.exe", Reply{404, Pe(100)});
  EXPECT_EQ(Run(), updOpenFailed);
  EXPECT_TRUE(watcher.Boxes().empty());
  ExpectUntouched();
}

TEST_F(Win32Update, VersionFileResults) {
  server.Set("update/update.txt", Reply{200, "1.2"});
  EXPECT_EQ(Run(), updNotNewer);
  server.Set("update/update.txt", Reply{200, "1.2.0.1\r\n"});
  EXPECT_EQ(Run(), updNotNewer);
  server.Set("update/update.txt", Reply{200, ""});
  EXPECT_EQ(Run(), updVersionFileEmpty);
  server.Set("update/update.txt", Reply{404, "1.3"});
  EXPECT_EQ(Run(), updOpenFailed);
  // The program without a version resource.
  server.Set("update/update.txt", Reply{200, "1.3"});
  WriteAll(platform.exe, "MZ but no resources");
  original = ReadAll(platform.exe);
  EXPECT_EQ(Run(), updNoOwnVersion);
  ExpectUntouched();
}

TEST_F(Win32Update, TruncatedAndForeignDownloads) {
  Watcher watcher(IDYES);
  server.Set("update/Parlex.exe", Reply{200, Pe(8000), 50000});
  EXPECT_EQ(Run(), updDownloadFailed);
  ExpectUntouched();
  server.Set("update/Parlex.exe", Reply{200, "<html><body>maintenance</body></html>"});
  EXPECT_EQ(Run(), updDownloadFailed);
  server.Set("update/Parlex.exe", Reply{200, std::string("\x7f"
                                                         "ELF\x01\x01",
                                                         6)});
  EXPECT_EQ(Run(), updDownloadFailed);
  ExpectUntouched();
  EXPECT_EQ(watcher.Boxes().size(), 3u);
}

TEST_F(Win32Update, SilentServerDoesNotHoldUpTheStart) {
  server.Set("update/update.txt", Reply{200, "", -2, true});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({500, 30000}), updOpenFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  // The default bound, on a session of its own: the open given up on may
  // still be running on the first one.
  TestPlatform fresh;
  fresh.exe = platform.exe;
  CAutoUpdater updater(fresh, agent, UpdateBounds{});
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(updater.RunUpdateCheck(FromUtf8(server.UrlText("update/"))), updOpenFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
  ExpectUntouched();
}

TEST_F(Win32Update, SilenceFailsTheDownload) {
  Watcher watcher(IDYES);
  // Had the read waited for the server to go on, the download would be
  // complete and installed. (No time is asserted here: hiding the question
  // box and the download window takes its own time under some window
  // systems.)
  server.Set("update/Parlex.exe", Reply{200, Pe(50000), -2, false, 8192, 8000});
  EXPECT_EQ(Run({3000, 500}), updDownloadFailed);
  ExpectUntouched();
  EXPECT_EQ(watcher.Boxes().size(), 1u);
}

TEST_F(Win32Update, BackupRules) {
  Watcher watcher(IDYES);
  server.Set("update/Parlex.exe", Reply{200, Pe(5000)});
  // An earlier backup is replaced.
  WriteAll(dir + u"\\Parlex.旧版本", "older program");
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(dir + u"\\Parlex.旧版本") == original);
  // Renamed to Chat.exe: downloaded as Chat.exe, kept as Chat.旧版本.
  ASSERT_TRUE(CopyFileW(W(dir + u"\\Parlex.旧版本"), W(dir + u"\\Chat.exe"), FALSE));
  platform.exe = dir + u"\\Chat.exe";
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(dir + u"\\Chat.旧版本") == original);
  EXPECT_TRUE(ReadAll(dir + u"\\Chat.exe") == Pe(5000));
  EXPECT_FALSE(Exists(platform.TempDirectory() + u"Chat.exe"));
  // Without an extension the backup is the directory and ".旧版本".
  CopyFileW(W(dir + u"\\Parlex.旧版本"), W(dir + u"\\Parlex"), FALSE);
  platform.exe = dir + u"\\Parlex";
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(dir + u"\\.旧版本") == original);
  EXPECT_TRUE(ReadAll(dir + u"\\Parlex") == Pe(5000));
  EXPECT_EQ(watcher.Boxes().size(), 3u);
}

TEST_F(Win32Update, MoveIntoPlaceFailsAndIsUndone) {
  // Moves: the download beside the program, the old one aside, the new one in.
  Watcher watcher(IDYES);
  platform.failMoveNumber = 3;
  EXPECT_EQ(Run(), updNotInstalled);
  EXPECT_TRUE(ReadAll(platform.exe) == original);
  // Nothing of the attempt is left beside the program.
  EXPECT_FALSE(Exists(dir + u"\\Parlex.旧版本"));
  EXPECT_FALSE(Exists(dir + u"\\Parlex.新版本"));
  EXPECT_FALSE(Exists(downloaded));
}

TEST(Win32RestartMessage, ShowsInformation) {
  Watcher watcher(IDOK);
  ShowUpdatedMessage();
  std::vector<Watcher::SeenBox> boxes = watcher.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, u"自动更新提醒");
  EXPECT_EQ(boxes[0].text, u"更新成功，请重新启动登录器！");
  EXPECT_TRUE(boxes[0].informationIcon);
  EXPECT_FALSE(boxes[0].owned);
}

}  // namespace
}  // namespace parlex::update::win32

namespace parlex::update::win32 {
namespace {

TEST(WholeExecutableWin32, TheRealProgramAndItsCuts) {
  // This test program is linked as Parlex.exe is: it must count as whole, and
  // a download cut anywhere must not.
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  std::string self = ReadAll(std::u16string(reinterpret_cast<const char16_t*>(path)));
  ASSERT_GT(self.size(), 10000u);
  EXPECT_TRUE(IsWholeExecutable(self));
  for (size_t cut : {size_t{4096}, self.size() / 2, self.size() - 1}) {
    EXPECT_FALSE(IsWholeExecutable(std::string_view(self).substr(0, cut))) << cut;
  }
}

}  // namespace
}  // namespace parlex::update::win32
