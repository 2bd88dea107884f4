// Parlex.exe's start with its update check: a copy of the built program is
// started against a loopback update server on the program's own update
// address, and its boxes are found and answered from this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/text.h"
#include "parlex_config.h"
#include "support/loopback_server.h"
#include "update/win32/exe_run.h"

namespace parlex::update {
namespace {

using std::chrono::milliseconds;
using test::LoopbackServer;
using test::Reply;

class ExeUpdate : public ExeRun {
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
    ExeRun::SetUp();
    newExe_ = "MZ" + std::string(200000, '\x90');
  }

  void TearDown() override {
    ExeRun::TearDown();
    server_.Stop();
  }

  void Serve(Reply version, Reply exe) {
    server_.Set(updatePath_ + "update.txt", std::move(version));
    server_.Set(updatePath_ + "Parlex.exe", std::move(exe));
  }

  LoopbackServer server_;
  std::string updatePath_;
  std::string newExe_;
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

TEST_F(ExeUpdate, EndlessProgramWithoutLengthFailsAndTheProgramGoesOn) {
  // A hostile server offers a newer version, then sends the program without
  // a length and without end (bounded here: the server stops 32 MiB past
  // the cap, or when this test ends).
  const uint64_t cap = uint64_t{64} << 20;
  Serve(Reply{200, "1.0.1.1"}, Reply{200, "MZ", -1, false, 0, 0, cap + (uint64_t{32} << 20)});
  Start();
  ASSERT_TRUE(Answer(L"更新提醒", IDYES)) << "no update question";
  // The download fails at the cap and the program starts as it would have.
  EXPECT_TRUE(WaitFor([&] { return FindDialog(process_.dwProcessId, L"Ostrel") != nullptr; },
                      std::chrono::milliseconds(240000)))
      << "no main window";
  EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the program ended";
  // It hung up once the cap was passed (what the sockets buffered aside).
  EXPECT_LT(server_.FillerSent(), cap + (uint64_t{24} << 20));
  EXPECT_TRUE(ReadAll(exe_) == original_);
  for (const wchar_t* left : {L"\\Parlex.旧版本", L"\\Parlex.新版本", L"\\tmp\\Parlex.exe"}) {
    EXPECT_EQ(GetFileAttributesW((dir_ + left).c_str()), INVALID_FILE_ATTRIBUTES) << left;
  }
}

}  // namespace
}  // namespace parlex::update
