// A copy of the built Parlex.exe in a private folder, started there with a
// temporary folder of its own, its boxes found and answered from the test's
// process. Shared by the tests that start the program with its update check.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace parlex::update {

inline std::string ReadAll(const std::wstring& path) {
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
bool WaitFor(Pred done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Sleep(100);
  }
  return true;
}

struct DialogSearch {
  DWORD pid;
  const wchar_t* title;
  HWND found;
};

inline BOOL CALLBACK VisitForDialog(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<DialogSearch*>(p);
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
inline HWND FindDialog(DWORD pid, const wchar_t* title) {
  DialogSearch s{pid, title, nullptr};
  EnumWindows(VisitForDialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

class ExeRun : public ::testing::Test {
 protected:
  static constexpr std::chrono::milliseconds kWindowTimeout{40000};

  void SetUp() override {
    ASSERT_TRUE(temp_.Ok());
    dir_ = temp_.Path().wstring();
    CreateDirectoryW((dir_ + L"\\tmp").c_str(), nullptr);
    exe_ = dir_ + L"\\Parlex.exe";
    std::string built = PARLEX_EXE_PATH;
    ASSERT_TRUE(CopyFileW(std::wstring(built.begin(), built.end()).c_str(), exe_.c_str(), FALSE));
    original_ = ReadAll(exe_);
  }

  void TearDown() override { EndProcess(); }

  void EndProcess() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
  }

  void Start() {
    EndProcess();
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
    return WaitFor([&] { return FindDialog(process_.dwProcessId, title) == nullptr; },
                   std::chrono::milliseconds(10000));
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

  test::TempDir temp_{"update-exe"};
  std::wstring dir_;
  std::wstring exe_;
  std::string original_;
  PROCESS_INFORMATION process_{};
};

}  // namespace parlex::update
