// The Linux updater against a loopback update server this test starts, with
// real files in a temporary folder standing in for the running program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "support/loopback_server.h"
#include "update/answering_agent.h"
#include "support/test_ca.h"
#include "support/scoped_env.h"
#include "update/executable_check.h"
#include "update/posix/http_get.h"
#include "update/posix/update_platform_posix.h"

namespace parlex::update::posix {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;
using test::Reply;

TEST(SplitHttpUrl, TakesUrlsApart) {
  HttpUrl u;
  ASSERT_TRUE(SplitHttpUrl("http://127.0.0.1:18380/update/update.txt", &u));
  EXPECT_EQ(u.host, "127.0.0.1");
  EXPECT_EQ(u.port, 18380);
  EXPECT_EQ(u.target, "/update/update.txt");
  ASSERT_TRUE(SplitHttpUrl("HTTP://updates.example", &u));
  EXPECT_EQ(u.host, "updates.example");
  EXPECT_EQ(u.port, 80);
  EXPECT_EQ(u.target, "/");
  ASSERT_TRUE(SplitHttpUrl("http://[::1]:81/a?b=1#frag", &u));
  EXPECT_EQ(u.host, "::1");
  EXPECT_EQ(u.port, 81);
  EXPECT_EQ(u.target, "/a?b=1");
  ASSERT_TRUE(SplitHttpUrl("http://h?x", &u));
  EXPECT_EQ(u.target, "/?x");
  EXPECT_EQ(u.Text(), "http://h/?x");
  ASSERT_TRUE(SplitHttpUrl("http://h:8080/a b/\xE6\x9B\xB4.txt", &u));
  EXPECT_EQ(u.target, "/a%20b/%E6%9B%B4.txt");
  EXPECT_EQ(u.Text(), "http://h:8080/a%20b/%E6%9B%B4.txt");
  ASSERT_TRUE(SplitHttpUrl("HTTPS://updates.example/u/", &u));
  EXPECT_TRUE(u.secure);
  EXPECT_EQ(u.port, 443);
  EXPECT_EQ(u.Text(), "https://updates.example/u/");
  ASSERT_TRUE(SplitHttpUrl("https://h:80/", &u));
  EXPECT_EQ(u.Text(), "https://h:80/");
  ASSERT_TRUE(SplitHttpUrl("http://h:443/", &u));
  EXPECT_FALSE(u.secure);
  EXPECT_EQ(u.Text(), "http://h:443/");
  for (const char* bad : {"https:/h/", "httpss://h/", "ftp://h/", "http://", "http:///x", "http://h:0/",
                          "http://h:65536/", "http://h:8a/", "http://user@h/", "http://[::1/", "h/x"}) {
    EXPECT_FALSE(SplitHttpUrl(bad, &u)) << bad;
  }
}

TEST(HasNetwork, NeedsAnAddressBeyondLoopback) {
  InterfaceAddress lo{true, true, false, false};
  InterfaceAddress eth{true, false, false, false};
  InterfaceAddress ethDown{false, false, false, false};
  InterfaceAddress linkLocal6{true, false, true, true};
  InterfaceAddress global6{true, false, true, false};
  EXPECT_FALSE(HasNetwork({}));
  EXPECT_FALSE(HasNetwork({lo}));
  EXPECT_FALSE(HasNetwork({lo, ethDown}));
  EXPECT_FALSE(HasNetwork({lo, linkLocal6}));
  EXPECT_TRUE(HasNetwork({lo, eth}));
  EXPECT_TRUE(HasNetwork({lo, linkLocal6, global6}));
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

std::string Elf(size_t size) {
  std::string body(
      "\x7f"
      "ELF",
      4);
  for (size_t i = body.size(); i < size; ++i) body += static_cast<char>(i * 7);
  return body;
}

// The real platform, but the "running program" is a file of the test's and
// the machine's network state does not matter for loopback.
class TestPlatform : public UpdatePlatformPosix {
 public:
  fs::path exe;
  int failMoveNumber = 0;
  int moves = 0;
  bool IsConnected() override { return true; }
  std::u16string OwnPath() override { return FromUtf8(exe.string()); }
  bool RenameFile(const std::u16string& from, const std::u16string& to, bool atRestart) override {
    if (++moves == failMoveNumber) return false;
    return UpdatePlatformPosix::RenameFile(from, to, atRestart);
  }
};

class PosixUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/parlex-update-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    temp = dir / "temp";
    fs::create_directory(temp);
    tmpdir.emplace("TMPDIR", temp.c_str());
    platform.exe = dir / "parlex";
    WriteAll(platform.exe, "old program");
    chmod(platform.exe.c_str(), 0751);
    ASSERT_TRUE(server.Start());
    server.Set("update/update.txt", Reply{200, "1.0.1.1"});
    server.Set("update/parlex", Reply{200, Elf(50000)});
  }
  void TearDown() override {
    server.Stop();
    tmpdir.reset();
    fs::remove_all(dir);
  }
  UpdateResult Run(UpdateBounds bounds = {}) {
    CAutoUpdater updater(platform, agent, bounds);
    return updater.RunUpdateCheck(FromUtf8(server.UrlText("update/")));
  }
  void ExpectUntouched() {
    EXPECT_EQ(ReadAll(platform.exe), "old program");
    EXPECT_FALSE(fs::exists(dir / ".旧版本"));
    EXPECT_EQ(FilesBelow(temp), std::vector<fs::path>{});
  }
  // Regular files anywhere below a folder.
  static std::vector<fs::path> FilesBelow(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    return files;
  }

  fs::path dir;
  fs::path temp;
  std::optional<test::ScopedEnv> tmpdir;
  LoopbackServer server;
  TestPlatform platform;
  test::AnsweringAgent agent;
};

TEST_F(PosixUpdate, InstallsNewerVersion) {
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(platform.exe) == Elf(50000));
  EXPECT_EQ(ReadAll(dir / ".旧版本"), "old program");
  EXPECT_EQ(FilesBelow(temp), std::vector<fs::path>{});
  struct stat st {};
  ASSERT_EQ(stat(platform.exe.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(agent.asked, 1);
  ASSERT_FALSE(agent.received.empty());
  EXPECT_EQ(agent.received.back(), 50000);

  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /update/update.txt HTTP/1.0");
  EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /update/parlex HTTP/1.0");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: AutoUpdateAgent\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
}

TEST_F(PosixUpdate, TemporaryDirectoryOnAnotherFileSystem) {
  // /dev/shm is a tmpfs: the move into place has to copy, and the copy
  // must still be the old program's kind of file: executable by the same people.
  struct stat shm {};
  struct stat here {};
  if (stat("/dev/shm", &shm) != 0 || stat(dir.c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  char pattern[] = "/dev/shm/parlex-update-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  tmpdir->Set(pattern);
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(platform.exe) == Elf(50000));
  EXPECT_EQ(ReadAll(dir / ".旧版本"), "old program");
  EXPECT_EQ(FilesBelow(pattern), std::vector<fs::path>{});
  struct stat st {};
  ASSERT_EQ(stat(platform.exe.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  fs::remove_all(pattern);
}

TEST_F(PosixUpdate, ErrorRepliesAreNeverInstalled) {
  server.Set("update/parlex", Reply{404, Elf(100)});
  EXPECT_EQ(Run(), updOpenFailed);
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
  server.Set("update/parlex", Reply{500, Elf(100)});
  EXPECT_EQ(Run(), updOpenFailed);
  server.Set("update/update.txt", Reply{404, "9.9"});
  EXPECT_EQ(Run(), updOpenFailed);
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
}

TEST_F(PosixUpdate, VersionFileResults) {
  server.Set("update/update.txt", Reply{200, ""});
  EXPECT_EQ(Run(), updVersionFileEmpty);
  server.Set("update/update.txt", Reply{200, "1.0.1.0"});  // the build's own version
  EXPECT_EQ(Run(), updNotNewer);
  server.Set("update/update.txt", Reply{200, "1.0.1.1\r\n"});
  EXPECT_EQ(Run(), updNotNewer);
  EXPECT_EQ(server.Requests().size(), 3u);  // the executable was never asked for
  EXPECT_EQ(agent.asked, 0);
  ExpectUntouched();
}

TEST_F(PosixUpdate, TruncatedExecutable) {
  server.Set("update/parlex", Reply{200, Elf(8000), 20000});
  EXPECT_EQ(Run(), updDownloadFailed);
  EXPECT_EQ(agent.asked, 1);
  ExpectUntouched();
}

TEST_F(PosixUpdate, BodyThatIsNoExecutable) {
  server.Set("update/parlex", Reply{200, "<html><body>maintenance</body></html>"});
  EXPECT_EQ(Run(), updDownloadFailed);
  server.Set("update/parlex", Reply{200, std::string("MZ\x90\x00", 4)});  // the other build's kind
  EXPECT_EQ(Run(), updDownloadFailed);
  ExpectUntouched();
}

TEST_F(PosixUpdate, AgentSaysNo) {
  agent.answer = false;
  EXPECT_EQ(Run(), updNotInstalled);
  ExpectUntouched();
}

TEST_F(PosixUpdate, SilentServerDoesNotHoldUpTheStart) {
  server.Set("update/update.txt", Reply{200, "", -2, true});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({300, 30000}), updOpenFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  // With the program's own bound.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(), updOpenFailed);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(4500));
  EXPECT_LT(took, std::chrono::seconds(8));
  ExpectUntouched();
}

TEST_F(PosixUpdate, SilenceFailsTheDownload) {
  server.Set("update/parlex", Reply{200, Elf(50000), -2, false, 8192, 3000});
  EXPECT_EQ(Run({2000, 300}), updDownloadFailed);
  ExpectUntouched();
  // A pause shorter than the bound is just a slow server.
  server.Set("update/parlex", Reply{200, Elf(50000), -2, false, 8192, 200});
  EXPECT_EQ(Run({2000, 2000}), updInstalled);
  EXPECT_TRUE(ReadAll(platform.exe) == Elf(50000));
}

TEST_F(PosixUpdate, EarlierBackupIsReplaced) {
  WriteAll(dir / ".旧版本", "older program");
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_EQ(ReadAll(dir / ".旧版本"), "old program");
}

TEST_F(PosixUpdate, RenamedExecutable) {
  fs::rename(platform.exe, dir / "chat.bin");
  platform.exe = dir / "chat.bin";
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(dir / "chat.bin") == Elf(50000));
  EXPECT_EQ(ReadAll(dir / "chat.旧版本"), "old program");
  EXPECT_FALSE(fs::exists(temp / "chat.bin"));
  EXPECT_FALSE(fs::exists(dir / "parlex"));
}

TEST_F(PosixUpdate, RenamedExecutableWithoutExtension) {
  fs::rename(platform.exe, dir / "chat");
  platform.exe = dir / "chat";
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(dir / "chat") == Elf(50000));
  EXPECT_EQ(ReadAll(dir / ".旧版本"), "old program");
  EXPECT_FALSE(fs::exists(temp / "chat"));
}

TEST_F(PosixUpdate, MoveIntoPlaceFailsAndIsUndone) {
  // Moves: the download beside the program, then over it.
  platform.failMoveNumber = 2;
  EXPECT_EQ(Run(), updNotInstalled);
  EXPECT_EQ(ReadAll(platform.exe), "old program");
  struct stat st {};
  ASSERT_EQ(stat(platform.exe.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  // Nothing of the attempt is left beside the program.
  EXPECT_FALSE(fs::exists(dir / ".旧版本"));
  EXPECT_FALSE(fs::exists(dir / ".新版本"));
  EXPECT_EQ(FilesBelow(temp), std::vector<fs::path>{});
}

TEST_F(PosixUpdate, EndlessProgramWithoutLengthStopsAtTheCap) {
  // A hostile server: the program comes without a length and never ends.
  const uint64_t cap = uint64_t{64} << 20;  // no program is larger
  server.Set("update/parlex", Reply{200, Elf(64), -1, false, 0, 0, cap + (uint64_t{32} << 20)});
  EXPECT_EQ(Run(), updDownloadFailed);
  ExpectUntouched();
  EXPECT_FALSE(fs::exists(dir / ".新版本"));
  // The updater hung up once the cap was passed, long before the server's
  // own end (what the sockets buffered aside).
  EXPECT_LT(server.FillerSent(), cap + (uint64_t{24} << 20));
  ASSERT_FALSE(agent.received.empty());
  EXPECT_LE(agent.received.back(), static_cast<int64_t>(cap));
  EXPECT_GT(agent.received.back(), static_cast<int64_t>(cap) - 65536);
}

TEST_F(PosixUpdate, NamesPlantedInTheSharedTemporaryFolderAreNotUsed) {
  // Another user's file (or a link to the agent's own files) under the name
  // the download would have had blocks nothing and is never written through.
  fs::path victim = dir / "victim";
  WriteAll(victim, "precious");
  fs::create_symlink(victim, temp / "parlex");
  EXPECT_EQ(Run(), updInstalled);
  EXPECT_TRUE(ReadAll(platform.exe) == Elf(50000));
  EXPECT_EQ(ReadAll(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(temp / "parlex"));
}

TEST_F(PosixUpdate, OverHttpsOnlyWithATrustedCertificate) {
  // Beside the program, not in the temporary folder the updater is judged by.
  fs::path certs = dir / "certs";
  fs::create_directory(certs);
  test::TestCa ca(certs, "UpdateTestCA");
  test::TestCa stranger(certs, "StrangerCA");
  auto good = ca.Issue("update", "IP:127.0.0.1", 1);
  auto untrusted = stranger.Issue("update-stranger", "IP:127.0.0.1", 1);
  ASSERT_TRUE(good && untrusted);
  test::ScopedEnv trust("SSL_CERT_FILE", ca.CertFile().c_str());
  auto runAgainst = [&](LoopbackServer& secure) {
    CAutoUpdater updater(platform, agent, UpdateBounds{});
    return updater.RunUpdateCheck(FromUtf8(secure.UrlText("update/")));
  };

  {
    LoopbackServer secure;
    ASSERT_TRUE(secure.UseTls(untrusted->certFile, untrusted->keyFile));
    ASSERT_TRUE(secure.Start());
    secure.Set("update/update.txt", Reply{200, "1.0.1.1"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(runAgainst(secure), updOpenFailed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "parlex: https to 127.0.0.1:" + std::to_string(secure.Port()) +
                  " failed: certificate verify failed: unable to get local issuer certificate\n");
    EXPECT_EQ(secure.Received(0), "");  // the handshake failed before any request
    EXPECT_EQ(agent.asked, 0);
    ExpectUntouched();
  }
  {
    LoopbackServer secure;
    ASSERT_TRUE(secure.UseTls(good->certFile, good->keyFile));
    ASSERT_TRUE(secure.Start());
    secure.Set("update/update.txt", Reply{200, "1.0.1.1"});
    secure.Set("update/parlex", Reply{200, Elf(50000)});
    EXPECT_EQ(runAgainst(secure), updInstalled);
    EXPECT_TRUE(ReadAll(platform.exe) == Elf(50000));
    EXPECT_EQ(ReadAll(dir / ".旧版本"), "old program");
    std::vector<std::string> requests = secure.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /update/update.txt HTTP/1.0");
    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /update/parlex HTTP/1.0");
    EXPECT_NE(requests[1].find("\r\nHost: 127.0.0.1:" + std::to_string(secure.Port()) + "\r\n"),
              std::string::npos);
  }
}

TEST(UpdatePlatformPosix, OwnThings) {
  UpdatePlatformPosix platform;
  // The test program itself.
  std::string self = ToUtf8(platform.OwnPath());
  EXPECT_EQ(fs::path(self), fs::canonical("/proc/self/exe"));
  std::optional<FileVersion> v = platform.ReadFileVersion(platform.OwnPath());
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(OwnVersionText(*v), u"1.0.1.0");
  EXPECT_EQ(platform.ServerExecutableName(), u"parlex");
  EXPECT_EQ(platform.PathSeparator(), u'/');
  test::ScopedEnv tmpdir("TMPDIR", "/var/tmp");
  std::string privateDir;
  {
    UpdatePlatformPosix other;
    std::string text = ToUtf8(other.TempDirectory());
    EXPECT_EQ(text.rfind("/var/tmp/parlex-update-", 0), 0u) << text;
    EXPECT_EQ(text.back(), '/');
    EXPECT_EQ(ToUtf8(other.TempDirectory()), text);  // one folder per updater
    privateDir = text;
    struct stat st {};
    ASSERT_EQ(stat(text.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  EXPECT_FALSE(fs::exists(privateDir));  // gone with its updater
  tmpdir.Set(nullptr);
  {
    UpdatePlatformPosix other;
    EXPECT_EQ(ToUtf8(other.TempDirectory()).rfind("/tmp/parlex-update-", 0), 0u);
  }
  // This machine's own answer: it must agree with what its interfaces say.
  EXPECT_EQ(platform.IsConnected(), MachineHasNetwork());
}

}  // namespace
}  // namespace parlex::update::posix

namespace parlex::update::posix {
namespace {

TEST(WholeExecutablePosix, TheRealProgramAndItsCuts) {
  // This test program is what a linker makes of our sources: it must count
  // as whole, and a download cut anywhere must not.
  std::string self = ReadAll("/proc/self/exe");
  ASSERT_GT(self.size(), 10000u);
  EXPECT_TRUE(IsWholeExecutable(self));
  for (size_t cut : {size_t{4096}, self.size() / 2, self.size() - 64, self.size() - 1}) {
    EXPECT_FALSE(IsWholeExecutable(std::string_view(self).substr(0, cut))) << cut;
  }
  std::string zeroed = self.substr(0, 4096) + std::string(self.size() - 4096, '\0');
  EXPECT_FALSE(IsWholeExecutable(zeroed));
}

}  // namespace
}  // namespace parlex::update::posix
