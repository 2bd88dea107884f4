// Parlex.exe's start with its update check: a copy of the built program is
// started against a loopback update server on the program's own update
// address, and its boxes are found and answered from this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "parlex_config.h"
#include "support/loopback_server.h"

namespace parlex::update {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::LoopbackServer;
using test::Reply;

constexpr auto kWindowTimeout = milliseconds(40000);

std::string ReadAll(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<none>";
  std::string data;
  std::vector<char> buffer(1 << 16);
  DWORD got = 0;
  while (ReadFile(f, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    data.append(buffer.data(), got);
  }
  CloseHandle(f);
  return data;
}

template <typename Pred>
bool WaitFor(Pred done, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    Sleep(100);
  }
  return true;
}

struct Search {
  DWORD pid;
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK Visit(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  wchar_t cls[64] = {};
  wchar_t title[128] = {};
  GetClassNameW(w, cls, 64);
  GetWindowTextW(w, title, 128);
  if (pid == s->pid && IsWindowVisible(w) && lstrcmpW(cls, L"#32770") == 0 &&
      lstrcmpW(title, s->title) == 0) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// A visible dialog-class window of pid with this title, or null.
HWND FindDialog(DWORD pid, const wchar_t* title) {
  Search s{pid, title, nullptr};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

class ExeUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    // "http://127.0.0.1:port/path/"
    std::string base = ToUtf8(PARLEX_UPDATE_URL);
    const std::string prefix = "http://127.0.0.1:";
    ASSERT_EQ(base.substr(0, prefix.size()), prefix) << "the program's update address is not on this machine";
    size_t slash = base.find('/', prefix.size());
    uint16_t port = static_cast<uint16_t>(std::stoi(base.substr(prefix.size(), slash - prefix.size())));
    updatePath_ = base.substr(slash + 1);
    ASSERT_TRUE(WaitFor([&] { return server_.Start(port); }, milliseconds(20000)))
        << "port " << port << " stays busy";

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"parlex-update-exe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter_++);
    CreateDirectoryW(dir_.c_str(), nullptr);
    CreateDirectoryW((dir_ + L"\\tmp").c_str(), nullptr);
    exe_ = dir_ + L"\\Parlex.exe";
    std::string built = PARLEX_EXE_PATH;
    ASSERT_TRUE(CopyFileW(std::wstring(built.begin(), built.end()).c_str(), exe_.c_str(), FALSE));
    original_ = ReadAll(exe_);
    newExe_ = "MZ" + std::string(200000, '\x90');
  }

  void TearDown() override {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 10000);
      }
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    server_.Stop();
    for (const wchar_t* name : {L"\\Parlex.exe", L"\\Parlex.旧版本", L"\\tmp\\Parlex.exe"}) {
      DeleteFileW((dir_ + name).c_str());
    }
    RemoveDirectoryW((dir_ + L"\\tmp").c_str());
    RemoveDirectoryW(dir_.c_str());
  }

  void Serve(Reply version, Reply exe) {
    server_.Set(updatePath_ + "update.txt", std::move(version));
    server_.Set(updatePath_ + "Parlex.exe", std::move(exe));
  }

  void Start() {
    // The copy downloads into a temporary folder of its own.
    std::wstring env;
    LPWCH block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p != 0; p += lstrlenW(p) + 1) {
      std::wstring entry = p;
      if (_wcsnicmp(p, L"TMP=", 4) == 0 || _wcsnicmp(p, L"TEMP=", 5) == 0) continue;
      env += entry;
      env.push_back(L'\0');
    }
    FreeEnvironmentStringsW(block);
    for (const wchar_t* name : {L"TMP=", L"TEMP="}) {
      env += name + dir_ + L"\\tmp";
      env.push_back(L'\0');
    }
    env.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring commandLine = L"\"" + exe_ + L"\"";
    ASSERT_TRUE(CreateProcessW(exe_.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                               CREATE_UNICODE_ENVIRONMENT, env.data(), dir_.c_str(), &si, &process_));
  }

  // Waits for a box of the program with this title and presses a button in it.
  bool Answer(const wchar_t* title, int button) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindDialog(process_.dwProcessId, title)) != nullptr; },
                 kWindowTimeout)) {
      return false;
    }
    // Seen while the box is up: the program has no main window.
    EXPECT_EQ(FindDialog(process_.dwProcessId, L"Ostrel"), nullptr);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return WaitFor([&] { return FindDialog(process_.dwProcessId, title) == nullptr; }, milliseconds(10000));
  }

  bool MainWindowComesUp() {
    return WaitFor([&] { return FindDialog(process_.dwProcessId, L"Ostrel") != nullptr; }, kWindowTimeout);
  }

  // The exit code, or -1 when it did not end in time.
  int64_t WaitForExit() {
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  static inline int counter_ = 0;
  LoopbackServer server_;
  std::string updatePath_;
  std::wstring dir_;
  std::wstring exe_;
  std::string original_;
  std::string newExe_;
  PROCESS_INFORMATION process_{};
};

TEST_F(ExeUpdate, InstallEndsWithTheRestartMessageAndNoMainWindow) {
  Serve(Reply{200, "1.0.1.1"}, Reply{200, newExe_});
  Start();
  ASSERT_TRUE(Answer(L"更新提醒", IDYES)) << "no update question";
  ASSERT_TRUE(Answer(L"自动更新提醒", IDOK)) << "no restart message";
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_TRUE(ReadAll(exe_) == newExe_);
  EXPECT_TRUE(ReadAll(dir_ + L"\\Parlex.旧版本") == original_);
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\tmp\\Parlex.exe").c_str()), INVALID_FILE_ATTRIBUTES);
  std::vector<std::string> requests = server_.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find(' ', 4)), "GET /" + updatePath_ + "update.txt");
  EXPECT_EQ(requests[1].substr(0, requests[1].find(' ', 4)), "GET /" + updatePath_ + "Parlex.exe");
  EXPECT_NE(requests[0].find("User-Agent: AutoUpdateAgent\r\n"), std::string::npos);
}

TEST_F(ExeUpdate, DeclinedStartsTheMainWindow) {
  Serve(Reply{200, "1.0.1.1"}, Reply{200, newExe_});
  Start();
  ASSERT_TRUE(Answer(L"更新提醒", IDNO)) << "no update question";
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(ReadAll(exe_) == original_);
}

TEST_F(ExeUpdate, ErrorReplyStartsTheMainWindowWithoutAsking) {
  Serve(Reply{200, "1.0.1.1"}, Reply{404, newExe_});
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_EQ(FindDialog(process_.dwProcessId, L"更新提醒"), nullptr);
  EXPECT_TRUE(ReadAll(exe_) == original_);
}

TEST_F(ExeUpdate, SilentServerStillLetsTheProgramStart) {
  // The server holds the connection for a minute: only the check's own
  // bound lets the window come up within the wait.
  Serve(Reply{200, "", -2, true}, Reply{200, newExe_});
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_TRUE(ReadAll(exe_) == original_);
}

}  // namespace
}  // namespace parlex::update
