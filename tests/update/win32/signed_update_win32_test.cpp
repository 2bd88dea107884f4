// Signed updates on Windows: the CNG verifier on its own and inside the
// update flow against a loopback update server. The key and signatures are
// fixed vectors made once on Linux with tools/sign_update (the secp256k1 ones
// with the openssl command), over the bytes Program() makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "support/loopback_server.h"
#include "update/answering_agent.h"
#include "support/temp_dir.h"
#include "update/win32/signature_verifier_cng.h"
#include "update/win32/update_platform_win32.h"

namespace parlex::update::win32 {
namespace {

using test::LoopbackServer;
using test::Reply;
using test::TempDir;

// sign-update keygen: update-public.hex.
constexpr char kPoint[] =
    "04ec9dc3f70b7d4720df7365c3ea668a04c4d357c26423e5c962fb5ec07f020a48da794643b36c7b38ece54414c8bf4cccd29690"
    "16b73eb"
    "1649b68859623b6b924";
// sign-update sign over Program() and over "MZ another program" (DER).
constexpr char kProgramSig[] =
    "30440220059004fb40b29ae032be1b17108d5a6177c110a06d7b23602fe3b6eeb03d55fb022063fe82462b83861c50093c282d31"
    "fd273c"
    "ef296595b4771f34f03ddc1170fa32";
constexpr char kOtherSig[] =
    "304602210085d1293b1c7a2ed81c3cf1d769fe71b021eb005020c69c90cb5ef3a155046d08022100c81d04dfe5312e3fef5162d6"
    "d57f8a"
    "cd95f35b7aab7be5256ccb332927d4fe18";
// A secp256k1 key's point and its own valid signature over Program().
constexpr char kK1Point[] =
    "04080ab1fcecbf7d82cd07a5955a6a4e09f6ddf5e154d340a7a929d6c06abbf462759833f40103baf677bf5f7e82bf320e0a0cf5"
    "d5f24bb"
    "cf2c95e9fa30a149e7d";
constexpr char kK1ProgramSig[] =
    "3044022047dca5a17c04d2832b48e3923913cf69d1ce1bffcbdefcc77056674c271f0a5b022069b32d84d2fe58efea5e7d2c046e"
    "36d4b3"
    "e7d7cb3f1b5686c7e5c74356079850";

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

std::string Program() {
  std::string bytes = "MZ";
  for (size_t i = 2; i < 20000; ++i) bytes += static_cast<char>((i * 7) & 0xFF);
  return bytes;
}

std::u16string PathText(const std::filesystem::path& p) {
  return std::u16string(reinterpret_cast<const char16_t*>(p.wstring().c_str()));
}

TEST(SignatureVerifierCng, ChecksSignUpdateSignatures) {
  TempDir dir("verify");
  ASSERT_TRUE(dir.Ok());
  std::u16string path = PathText(dir.Write("Parlex.exe", Program()));
  std::optional<std::string> raw = RawSignature(FromHex(kProgramSig));
  ASSERT_TRUE(raw);

  SignatureVerifierCng verifier(FromHex(kPoint));
  ASSERT_TRUE(verifier.HasKey());
  EXPECT_TRUE(verifier.VerifyFile(path, *raw));

  std::string flipped = *raw;
  flipped[40] ^= 0x01;
  EXPECT_FALSE(verifier.VerifyFile(path, flipped));
  std::string changed = Program();
  changed[5000] ^= 0x01;
  EXPECT_FALSE(verifier.VerifyFile(PathText(dir.Write("changed.exe", changed)), *raw));
  EXPECT_FALSE(verifier.VerifyFile(path, *RawSignature(FromHex(kOtherSig))));
  EXPECT_TRUE(verifier.VerifyFile(PathText(dir.Write("other.exe", "MZ another program")),
                                  *RawSignature(FromHex(kOtherSig))));
  EXPECT_FALSE(verifier.VerifyFile(PathText(dir.File("missing.exe")), *raw));
  EXPECT_FALSE(verifier.VerifyFile(path, raw->substr(0, 63)));
}

TEST(SignatureVerifierCng, KeysOfOtherCurvesAcceptNothing) {
  TempDir dir("verify");
  ASSERT_TRUE(dir.Ok());
  std::u16string path = PathText(dir.Write("Parlex.exe", Program()));
  // The secp256k1 key's own signature is valid on its curve, never on P-256.
  std::string k1Sig = *RawSignature(FromHex(kK1ProgramSig));
  SignatureVerifierCng k1(FromHex(kK1Point));
  EXPECT_FALSE(k1.VerifyFile(path, k1Sig));
  // Nor does the P-256 key take it.
  SignatureVerifierCng p256(FromHex(kPoint));
  EXPECT_FALSE(p256.VerifyFile(path, k1Sig));
  for (const std::string& point : {std::string(), std::string(97, '\x04'), FromHex(kPoint).substr(1)}) {
    SignatureVerifierCng verifier(point);
    EXPECT_FALSE(verifier.HasKey());
    EXPECT_FALSE(verifier.VerifyFile(path, *RawSignature(FromHex(kProgramSig))));
  }
}

// The real platform; the "running program" is a file of the test's with
// the version of this test program.
class SignedPlatform : public UpdatePlatformWin32 {
 public:
  std::u16string exe;
  std::u16string OwnPath() override { return exe; }
  std::optional<FileVersion> ReadFileVersion(const std::u16string&) override {
    return FileVersion{1, 2, 0, 0};
  }
};

class SignedWin32Update : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.Ok());
    platform.exe = PathText(dir.Write("Parlex.exe", "old program"));
    downloaded = platform.TempDirectory() + u"Parlex.exe";
    DeleteFileW(reinterpret_cast<const wchar_t*>(downloaded.c_str()));
    ASSERT_TRUE(server.Start());
    server.Set("update/update.txt", Reply{200, "1.2.0.1"});
    server.Set("update/Parlex.exe", Reply{200, Program()});
  }
  void TearDown() override { server.Stop(); }
  UpdateResult RunSigned() {
    SignatureVerifierCng verifier(FromHex(kPoint));
    CAutoUpdater updater(platform, agent, {}, &verifier);
    return updater.RunUpdateCheck(FromUtf8(server.UrlText("update/")));
  }
  void ExpectRefused() {
    EXPECT_EQ(RunSigned(), updDownloadFailed);
    EXPECT_EQ(TempDir::Read(dir.File("Parlex.exe")), "old program");
    EXPECT_FALSE(std::filesystem::exists(dir.File("Parlex.旧版本")));
    EXPECT_EQ(GetFileAttributesW(reinterpret_cast<const wchar_t*>(downloaded.c_str())),
              INVALID_FILE_ATTRIBUTES);
  }

  TempDir dir{"signed-update"};
  std::u16string downloaded;
  LoopbackServer server;
  SignedPlatform platform;
  test::AnsweringAgent agent;
};

TEST_F(SignedWin32Update, SignedProgramIsInstalled) {
  server.Set("update/Parlex.exe.sig", Reply{200, FromHex(kProgramSig)});
  EXPECT_EQ(RunSigned(), updInstalled);
  EXPECT_TRUE(TempDir::Read(dir.File("Parlex.exe")) == Program());
  EXPECT_EQ(TempDir::Read(dir.File("Parlex.旧版本")), "old program");
  EXPECT_EQ(agent.asked, 1);
}

TEST_F(SignedWin32Update, BadSignaturesAreRefused) {
  std::string good = FromHex(kProgramSig);
  std::string wrong = good;
  wrong[wrong.size() - 3] ^= 0x20;
  for (const std::string& sig :
       {wrong, FromHex(kOtherSig), FromHex(kK1ProgramSig), good.substr(0, good.size() - 4)}) {
    server.Set("update/Parlex.exe.sig", Reply{200, sig});
    ExpectRefused();
  }
  EXPECT_EQ(agent.asked, 3);  // the truncated one is refused before the question
  server.Set("update/Parlex.exe.sig", Reply{404, "<html>Not Found</html>"});
  ExpectRefused();
  EXPECT_EQ(agent.asked, 3);
}

}  // namespace
}  // namespace parlex::update::win32
