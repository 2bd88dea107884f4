// Signed updates on Linux: signatures made by sign-update, checked by the
// OpenSSL verifier on its own and inside the update flow against a loopback
// update server.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "support/loopback_server.h"
#include "update/answering_agent.h"
#include "support/temp_dir.h"
#include "support/scoped_env.h"
#include "update/posix/signature_verifier_openssl.h"
#include "update/posix/update_platform_posix.h"

namespace parlex::update::posix {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;
using test::Reply;
using test::TempDir;

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

int Run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// A key pair made by sign-update in a folder of its own.
class Signer {
 public:
  Signer() {
    ok_ = keys_.Ok() &&
          Run(std::string(PARLEX_SIGN_UPDATE_PATH) + " keygen '" + keys_.Path().string() + "'") == 0;
    std::string hex = TempDir::Read(keys_.File("update-public.hex"));
    if (!hex.empty() && hex.back() == '\n') hex.pop_back();
    point_ = FromHex(hex);
  }
  bool Ok() const { return ok_ && point_.size() == 65; }
  const std::string& Point() const { return point_; }
  // The .sig sign-update writes for these bytes.
  std::string Sign(std::string_view bytes) {
    fs::path file = keys_.Write("to-sign", bytes);
    fs::remove(file.string() + ".sig");
    if (Run(std::string(PARLEX_SIGN_UPDATE_PATH) + " sign '" + keys_.File("update-private.pem").string() +
            "' '" + file.string() + "'") != 0) {
      return {};
    }
    return TempDir::Read(file.string() + ".sig");
  }

 private:
  TempDir keys_{"sign-keys"};
  bool ok_ = false;
  std::string point_;
};

// The uncompressed public point of a new key on another curve.
std::string OtherCurvePoint(const char* curve) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve);
  if (key == nullptr) return {};
  unsigned char point[200];
  size_t length = 0;
  bool ok =
      EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point, &length);
  EVP_PKEY_free(key);
  return ok ? std::string(reinterpret_cast<char*>(point), length) : std::string();
}

TEST(SignatureVerifierOpenSsl, ChecksSignUpdateSignatures) {
  Signer signer;
  ASSERT_TRUE(signer.Ok());
  TempDir dir("verify");
  ASSERT_TRUE(dir.Ok());
  const std::string program = std::string(
                                  "\x7f"
                                  "ELF",
                                  4) +
                              std::string(100000, 'p');
  std::u16string path = FromUtf8(dir.Write("program", program).string());
  std::optional<std::string> raw = RawSignature(signer.Sign(program));
  ASSERT_TRUE(raw);

  SignatureVerifierOpenSsl verifier(signer.Point());
  ASSERT_TRUE(verifier.HasKey());
  EXPECT_TRUE(verifier.VerifyFile(path, *raw));

  // One bit of the signature or of the program changed.
  std::string flipped = *raw;
  flipped[40] ^= 0x01;
  EXPECT_FALSE(verifier.VerifyFile(path, flipped));
  std::string changed = program;
  changed[5000] ^= 0x01;
  EXPECT_FALSE(verifier.VerifyFile(FromUtf8(dir.Write("changed", changed).string()), *raw));
  // A valid signature of another file, a file that is not there, r || s cut short.
  EXPECT_FALSE(verifier.VerifyFile(path, *RawSignature(signer.Sign("another file"))));
  EXPECT_FALSE(verifier.VerifyFile(FromUtf8(dir.File("missing").string()), *raw));
  EXPECT_FALSE(verifier.VerifyFile(path, raw->substr(0, 63)));

  // Another key pair's signature.
  Signer other;
  ASSERT_TRUE(other.Ok());
  EXPECT_FALSE(verifier.VerifyFile(path, *RawSignature(other.Sign(program))));
}

TEST(SignatureVerifierOpenSsl, KeysOfOtherCurvesAcceptNothing) {
  TempDir dir("verify");
  ASSERT_TRUE(dir.Ok());
  std::u16string path = FromUtf8(dir.Write("program", "bytes").string());
  const std::string raw(64, '\x11');
  // secp256k1 has 65-byte points too, but they do not lie on P-256.
  std::string k1 = OtherCurvePoint("secp256k1");
  ASSERT_EQ(k1.size(), 65u);
  std::string p384 = OtherCurvePoint("P-384");
  ASSERT_EQ(p384.size(), 97u);
  for (const std::string& point : {k1, p384, std::string(), std::string(65, '\x04')}) {
    SignatureVerifierOpenSsl verifier(point);
    EXPECT_FALSE(verifier.HasKey());
    EXPECT_FALSE(verifier.VerifyFile(path, raw));
  }
}

// The flow with the real platform and verifier; the "running program" is a
// file of the test's.
class SignedPlatform : public UpdatePlatformPosix {
 public:
  fs::path exe;
  bool IsConnected() override { return true; }
  std::u16string OwnPath() override { return FromUtf8(exe.string()); }
};

class SignedPosixUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.Ok());
    ASSERT_TRUE(signer.Ok());
    fs::create_directory(dir.File("temp"));
    tmpdir.emplace("TMPDIR", dir.File("temp").c_str());
    platform.exe = dir.Write("parlex", "old program");
    ASSERT_TRUE(server.Start());
    server.Set("update/update.txt", Reply{200, "1.0.1.1"});
    server.Set("update/parlex", Reply{200, program});
  }
  void TearDown() override {
    server.Stop();
    tmpdir.reset();
  }
  UpdateResult RunSigned() {
    SignatureVerifierOpenSsl verifier(signer.Point());
    CAutoUpdater updater(platform, agent, {}, &verifier);
    return updater.RunUpdateCheck(FromUtf8(server.UrlText("update/")));
  }
  // Refused: the program as it was, no backup, no download left.
  void ExpectRefused() {
    EXPECT_EQ(RunSigned(), updDownloadFailed);
    EXPECT_EQ(TempDir::Read(platform.exe), "old program");
    EXPECT_FALSE(fs::exists(dir.File(".旧版本")));
    // The download folder may stay until the platform ends, but empty.
    for (const auto& entry : fs::recursive_directory_iterator(dir.File("temp"))) {
      EXPECT_FALSE(entry.is_regular_file()) << entry.path();
    }
  }

  const std::string program = std::string(
                                  "\x7f"
                                  "ELF",
                                  4) +
                              std::string(50000, 'n');
  TempDir dir{"signed-update"};
  std::optional<test::ScopedEnv> tmpdir;
  Signer signer;
  LoopbackServer server;
  SignedPlatform platform;
  test::AnsweringAgent agent;
};

TEST_F(SignedPosixUpdate, SignedProgramIsInstalled) {
  server.Set("update/parlex.sig", Reply{200, signer.Sign(program)});
  EXPECT_EQ(RunSigned(), updInstalled);
  EXPECT_TRUE(TempDir::Read(platform.exe) == program);
  EXPECT_EQ(TempDir::Read(dir.File(".旧版本")), "old program");
  EXPECT_EQ(agent.asked, 1);
}

TEST_F(SignedPosixUpdate, BadSignaturesAreRefused) {
  std::string good = signer.Sign(program);
  struct Case {
    const char* what;
    std::string sig;
  };
  std::string wrong = good;
  wrong[wrong.size() - 3] ^= 0x20;
  for (const Case& c : {Case{"wrong", wrong}, Case{"another file", signer.Sign("MZ another program")},
                        Case{"truncated", good.substr(0, good.size() - 4)}}) {
    SCOPED_TRACE(c.what);
    server.Set("update/parlex.sig", Reply{200, c.sig});
    ExpectRefused();
  }
  EXPECT_EQ(agent.asked, 2);  // the truncated one is refused before the question
  server.Set("update/parlex.sig", Reply{404, "<html>Not Found</html>"});
  ExpectRefused();
  EXPECT_EQ(agent.asked, 2);
}

}  // namespace
}  // namespace parlex::update::posix
