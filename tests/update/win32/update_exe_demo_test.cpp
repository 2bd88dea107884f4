// Parlex.exe updated over the demo chat service to a build one version
// higher, with nothing faked. The service runs natively beside Wine: the
// driver script (update_exe_demo_test.sh) starts it on the program's own
// update address, serving a folder that this test fills, and hands over the
// folder and the service's request log as Windows paths:
//   PARLEX_DEMO_UPDATE_DIR  the folder the service serves as /update/
//   PARLEX_DEMO_SERVICE_LOG its standard output: one line per request
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "parlex_config.h"
#include "update/win32/exe_run.h"

namespace parlex::update {
namespace {

std::wstring Widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE f =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  CloseHandle(f);
  return ok;
}

class ExeUpdateFromDemoService : public ExeRun {
 protected:
  void SetUp() override {
    const char* updates = std::getenv("PARLEX_DEMO_UPDATE_DIR");
    const char* log = std::getenv("PARLEX_DEMO_SERVICE_LOG");
    if (updates == nullptr || log == nullptr) GTEST_SKIP() << "run through update_exe_demo_test.sh";
    updates_ = Widen(updates);
    log_ = Widen(log);
    ExeRun::SetUp();
    logAtStart_ = ReadAll(log_).size();
  }

  void Offer(const std::string& version, const std::string& exeBytes) {
    ASSERT_TRUE(WriteAll(updates_ + L"\\update.txt", version));
    ASSERT_TRUE(WriteAll(updates_ + L"\\Parlex.exe", exeBytes));
  }

  // How often the service answered this request line with 200 since the
  // test began.
  size_t Served(const std::string& request) {
    std::istringstream lines(ReadAll(log_).substr(logAtStart_));
    size_t n = 0;
    for (std::string line; std::getline(lines, line);) n += line == request + " 200" ? 1 : 0;
    return n;
  }

  std::wstring updates_;
  std::wstring log_;
  size_t logAtStart_ = 0;
};

TEST_F(ExeUpdateFromDemoService, UpdatesToTheNextBuildWhichThenStartsWithoutAsking) {
  const std::string built = PARLEX_NEXT_VERSION_PATH;
  const std::string next = ReadAll(std::wstring(built.begin(), built.end()));
  ASSERT_GT(next.size(), 2u);
  ASSERT_TRUE(next != original_);
  Offer(PARLEX_NEXT_VERSION_TEXT, next);
  Start();
  ASSERT_TRUE(Answer(L"更新提醒", IDYES)) << "no update question";
  ASSERT_TRUE(Answer(L"自动更新提醒", IDOK)) << "no restart message";
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_TRUE(ReadAll(exe_) == next) << "the program on disk is not the new build";
  EXPECT_TRUE(ReadAll(dir_ + L"\\Parlex.旧版本") == original_) << "the backup is not the old build";

  // The new build is the one that starts now: it is as new as the offer, so
  // it asks nothing and its main window comes up.
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_EQ(FindDialog(process_.dwProcessId, L"更新提醒"), nullptr);
  EXPECT_TRUE(ReadAll(exe_) == next);

  EXPECT_EQ(Served("GET /update/update.txt"), 2u);
  EXPECT_EQ(Served("GET /update/Parlex.exe"), 1u);
}

TEST_F(ExeUpdateFromDemoService, AnOfferThatIsNotNewerStartsStraightAway) {
  Offer(PARLEX_VERSION_TEXT, original_);
  Start();
  EXPECT_TRUE(MainWindowComesUp());
  EXPECT_EQ(FindDialog(process_.dwProcessId, L"更新提醒"), nullptr);
  EXPECT_TRUE(ReadAll(exe_) == original_);
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\Parlex.旧版本").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Served("GET /update/update.txt"), 1u);
  EXPECT_EQ(Served("GET /update/Parlex.exe"), 0u);
}

}  // namespace
}  // namespace parlex::update
