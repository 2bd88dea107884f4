// The built Parlex.exe as a deployment runs it: its addresses from the
// machine's policy and the user's values in the registry, a wrong value
// refused before anything starts, the installer's close request, and the
// support log of the run.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/win32/address_sources_win32.h"
#include "app/win32/log_file_win32.h"
#include "common/text.h"
#include "parlex_process.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace parlex::app::win32::testing {
namespace {

// A key of the test's, removed with everything in it when the test ends.
class ScopedKey {
 public:
  ScopedKey(HKEY root, const wchar_t* subkey) : root_(root), subkey_(subkey) {
    ::RegDeleteTreeW(root_, subkey_.c_str());
  }
  ~ScopedKey() { ::RegDeleteTreeW(root_, subkey_.c_str()); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  bool Set(const wchar_t* name, const std::string& value, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    const REGSAM access = KEY_SET_VALUE | (root_ == HKEY_LOCAL_MACHINE ? KEY_WOW64_64KEY : 0);
    if (::RegCreateKeyExW(root_, subkey_.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr) != 0)
      return false;
    const std::wstring wide(reinterpret_cast<const wchar_t*>(FromUtf8(value).c_str()));
    LONG rc;
    if (type == REG_DWORD) {
      const DWORD number = 7;
      rc = ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else {
      rc = ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
  }

 private:
  HKEY root_;
  std::wstring subkey_;
};

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RegistrySettings, StringValuesAreReadAndOthersRefused) {
  const std::wstring subkey = L"Software\\ParlexTest-" + std::to_wstring(::GetCurrentProcessId());
  ScopedKey key(HKEY_CURRENT_USER, subkey.c_str());
  SettingSource source;
  EXPECT_FALSE(ReadRegistrySource(HKEY_CURRENT_USER, subkey.c_str(), u"test", &source))
      << "no key, no source";
  ASSERT_TRUE(key.Set(L"ChatUrl", "http://chat.example/"));
  ASSERT_TRUE(key.Set(L"UpdateUrl", "http://%USERDOMAIN%.example/up", REG_EXPAND_SZ));
  ASSERT_TRUE(ReadRegistrySource(HKEY_CURRENT_USER, subkey.c_str(), u"test", &source));
  EXPECT_TRUE(source.error.empty()) << ToUtf8(source.error);
  EXPECT_EQ(source.chatUrl, u"http://chat.example/");
  ASSERT_TRUE(source.updateUrl.has_value());
  EXPECT_EQ(source.updateUrl->find(u'%'), std::u16string::npos) << "not expanded";

  ASSERT_TRUE(key.Set(L"ChatUrl", "", REG_DWORD));
  ASSERT_TRUE(ReadRegistrySource(HKEY_CURRENT_USER, subkey.c_str(), u"HKCU\\test", &source));
  EXPECT_EQ(source.error.find(u"HKCU\\test\\ChatUrl: not a string value"), 0u) << ToUtf8(source.error);
}

TEST(LogFileWin32, AFullFileBecomesTheOlderOneAndLinesStayWhole) {
  test::TempDir dir("log");
  ASSERT_TRUE(dir.Ok());
  const std::wstring path = dir.File("Parlex").wstring() + L"\\parlex.log";
  LogFileWin32 log(path);
  const supportlog::Stamp now = log.Now();
  EXPECT_GE(now.year, 2024);
  const std::string line = std::string(999, 'a') + "\n";
  for (int i = 0; i < 1100; ++i) log.Append(line);
  EXPECT_EQ(ReadAll(path + L".1").size(), 1048u * 1000u);
  EXPECT_EQ(ReadAll(path).size(), (1100u - 1048u) * 1000u);
}

class DeployedExe : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    logPath_ = std::wstring(folder) + L"\\Parlex\\parlex.log";
    logStart_ = ReadAll(logPath_).size();
  }
  // What the runs of this test added to the log.
  std::string NewLog() const { return ReadAll(logPath_).substr(logStart_); }

  ScopedKey policy_{HKEY_LOCAL_MACHINE, kPolicyKey};
  ScopedKey user_{HKEY_CURRENT_USER, kUserKey};
  std::wstring logPath_;
  size_t logStart_ = 0;
};

TEST_F(DeployedExe, ThePolicyWinsOverTheUserAndTheInstallerClosesTheProgram) {
  test::LoopbackServer policyChat, userChat, update;
  ASSERT_TRUE(policyChat.Start() && userChat.Start() && update.Start());
  update.Set("u/update.txt", test::Reply{200, "1.0.1.0"});
  ASSERT_TRUE(policy_.Set(L"ChatUrl", policyChat.UrlText()));
  ASSERT_TRUE(user_.Set(L"ChatUrl", userChat.UrlText()));
  ASSERT_TRUE(user_.Set(L"UpdateUrl", update.UrlText("u")));

  ParlexProcess parlex;
  ASSERT_TRUE(parlex.Start());
  const HWND window = WaitForMainWindow(parlex.Id());
  ASSERT_TRUE(window);
  Settle(2000);
  bool asked = false;
  for (const std::string& head : update.Requests()) asked |= head.rfind("GET /u/update.txt ", 0) == 0;
  EXPECT_TRUE(asked) << "the update check went elsewhere";
  bool paged = false;
  for (const std::string& head : policyChat.Requests()) paged |= head.rfind("GET /embeded ", 0) == 0;
  EXPECT_TRUE(paged) << "the agent page did not come from the policy's address";
  EXPECT_EQ(userChat.Connections(), 0u);

  // The installer's way: the program leaves on its own.
  DWORD_PTR answer = 0;
  ASSERT_TRUE(::SendMessageTimeoutW(window, ::RegisterWindowMessageW(L"ParlexCloseForInstall"), 0, 0,
                                    SMTO_ABORTIFHUNG, 5000, &answer));
  EXPECT_EQ(answer, 2u);
  DWORD code = 99;
  ASSERT_TRUE(parlex.WaitForExit(20000, &code));
  EXPECT_EQ(code, 0u);

  const std::string log = NewLog();
  EXPECT_NE(log.find("(from HKLM\\Software\\Policies\\Parlex); update " + update.UrlText("u/") +
                     " (from HKCU\\Software\\Parlex)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("INFO install the installer asked the program to leave\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO exit exit code 0\n"), std::string::npos) << log;
}

TEST_F(DeployedExe, AWrongValueIsRefusedWithItsPlaceAndNothingStarts) {
  test::LoopbackServer chat;
  ASSERT_TRUE(chat.Start());
  ASSERT_TRUE(user_.Set(L"ChatUrl", chat.UrlText()));
  ASSERT_TRUE(user_.Set(L"UpdateUrl", "update.example/parlex/"));
  ParlexProcess parlex;
  ASSERT_TRUE(parlex.Start());
  const HWND box = WaitForWindow(parlex.Id(), L"#32770", L"Parlex 设置错误", 30000);
  ASSERT_TRUE(box) << "no message";
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  DWORD code = 99;
  ASSERT_TRUE(parlex.WaitForExit(20000, &code));
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(chat.Connections(), 0u);
  EXPECT_NE(NewLog().find(
                "ERROR settings not started: HKCU\\Software\\Parlex: UpdateUrl \"update.example/parlex/\""),
            std::string::npos)
      << NewLog();
}

}  // namespace
}  // namespace parlex::app::win32::testing
