// sign-update: the update key pair and the signatures a signed build checks.
//
//   sign-update keygen DIR   writes DIR/update-private.pem (owner only),
//                            DIR/update-public.pem and DIR/update-public.hex
//                            (the 65-byte point in hex, the form the build's
//                            PARLEX_UPDATE_PUBLIC_KEY takes besides the PEM)
//   sign-update sign KEY FILE  writes FILE.sig: the DER ECDSA signature over
//                            the SHA-256 of FILE's bytes
//
// Exit codes: 0 done, 1 failed (the reason on stderr), 2 wrong arguments.
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FreeKey {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct FreeDigest {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct CloseFile {
  void operator()(FILE* f) const { std::fclose(f); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
using File = std::unique_ptr<FILE, CloseFile>;

int Fail(const std::string& what) {
  std::fprintf(stderr, "sign-update: %s", what.c_str());
  unsigned long e = ERR_get_error();
  if (e != 0) std::fprintf(stderr, " (%s)", ERR_error_string(e, nullptr));
  std::fprintf(stderr, "\n");
  return 1;
}

// Writes through fn into path, created with mode; false on any failure.
template <typename Fn>
bool WriteFile(const std::string& path, mode_t mode, Fn fn) {
  std::remove(path.c_str());
  mode_t old = ::umask(0077 & ~mode);
  FILE* raw = std::fopen(path.c_str(), "wbx");
  ::umask(old);
  if (raw == nullptr) return false;
  ::chmod(path.c_str(), mode);
  File file(raw);
  bool ok = fn(file.get());
  return std::fclose(file.release()) == 0 && ok;
}

int Keygen(const std::string& dir) {
  Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) return Fail("cannot make a P-256 key");
  unsigned char point[65];
  size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point,
                                      &length) != 1 ||
      length != sizeof point || point[0] != 0x04) {
    return Fail("cannot read the public point");
  }
  std::string hex;
  for (unsigned char b : point) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  if (!WriteFile(dir + "/update-private.pem", 0600, [&](FILE* f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
      })) {
    return Fail("cannot write " + dir + "/update-private.pem");
  }
  if (!WriteFile(dir + "/update-public.pem", 0644,
                 [&](FILE* f) { return PEM_write_PUBKEY(f, key.get()) == 1; })) {
    return Fail("cannot write " + dir + "/update-public.pem");
  }
  if (!WriteFile(dir + "/update-public.hex", 0644,
                 [&](FILE* f) { return std::fprintf(f, "%s\n", hex.c_str()) > 0; })) {
    return Fail("cannot write " + dir + "/update-public.hex");
  }
  return 0;
}

int Sign(const std::string& keyPath, const std::string& path) {
  Key key;
  {
    File f(std::fopen(keyPath.c_str(), "rb"));
    if (!f) return Fail("cannot open " + keyPath);
    key.reset(PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr));
  }
  if (!key) return Fail("no private key in " + keyPath);
  char group[64] = {};
  size_t groupLength = 0;
  if (!EVP_PKEY_is_a(key.get(), "EC") ||
      EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     &groupLength) != 1 ||
      std::strcmp(group, "prime256v1") != 0) {
    return Fail(keyPath + " is not a P-256 key");
  }
  std::unique_ptr<EVP_MD_CTX, FreeDigest> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return Fail("cannot start signing");
  }
  {
    File in(std::fopen(path.c_str(), "rb"));
    if (!in) return Fail("cannot open " + path);
    std::vector<char> buffer(65536);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
      if (EVP_DigestSignUpdate(ctx.get(), buffer.data(), n) != 1) return Fail("cannot hash " + path);
    }
    if (std::ferror(in.get())) return Fail("cannot read " + path);
  }
  size_t length = 0;
  if (EVP_DigestSignFinal(ctx.get(), nullptr, &length) != 1) return Fail("cannot sign");
  std::vector<unsigned char> der(length);
  if (EVP_DigestSignFinal(ctx.get(), der.data(), &length) != 1) return Fail("cannot sign");
  der.resize(length);
  if (!WriteFile(path + ".sig", 0644,
                 [&](FILE* f) { return std::fwrite(der.data(), 1, der.size(), f) == der.size(); })) {
    return Fail("cannot write " + path + ".sig");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "keygen") == 0) return Keygen(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "sign") == 0) return Sign(argv[2], argv[3]);
  std::fprintf(stderr, "usage: sign-update keygen DIR\n       sign-update sign KEY FILE\n");
  return 2;
}
