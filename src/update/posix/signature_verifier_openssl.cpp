#include "update/posix/signature_verifier_openssl.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "common/text.h"
#include "common/unique_fd.h"

namespace parlex::update::posix {

namespace {

struct FreeParamBuild {
  void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
};
struct FreeParams {
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};
struct FreeKeyContext {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct FreeDigestContext {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct FreeSignature {
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};

EVP_PKEY* KeyFromPoint(std::string_view point) {
  if (!IsUncompressedPoint(point)) return nullptr;
  std::unique_ptr<OSSL_PARAM_BLD, FreeParamBuild> build(OSSL_PARAM_BLD_new());
  if (!build) return nullptr;
  char group[] = "prime256v1";
  if (!OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size())) {
    return nullptr;
  }
  std::unique_ptr<OSSL_PARAM, FreeParams> params(OSSL_PARAM_BLD_to_param(build.get()));
  std::unique_ptr<EVP_PKEY_CTX, FreeKeyContext> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
  // The point must lie on the curve; a point of another curve does not.
  std::unique_ptr<EVP_PKEY_CTX, FreeKeyContext> check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return key;
}

// r || s as the DER that EVP_DigestVerifyFinal takes.
std::vector<unsigned char> DerOf(std::string_view raw) {
  if (raw.size() != kRawSignatureBytes) return {};
  std::unique_ptr<ECDSA_SIG, FreeSignature> sig(ECDSA_SIG_new());
  if (!sig) return {};
  auto bytes = reinterpret_cast<const unsigned char*>(raw.data());
  BIGNUM* r = BN_bin2bn(bytes, 32, nullptr);
  BIGNUM* s = BN_bin2bn(bytes + 32, 32, nullptr);
  if (r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  int length = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (length <= 0) return {};
  std::vector<unsigned char> der(static_cast<size_t>(length));
  unsigned char* out = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &out) != length) return {};
  return der;
}

}  // namespace

SignatureVerifierOpenSsl::SignatureVerifierOpenSsl(std::string_view publicPoint)
    : key_(KeyFromPoint(publicPoint)) {}

SignatureVerifierOpenSsl::~SignatureVerifierOpenSsl() { EVP_PKEY_free(key_); }

bool SignatureVerifierOpenSsl::VerifyFile(const std::u16string& path, std::string_view rawSignature) {
  if (key_ == nullptr) return false;
  std::vector<unsigned char> der = DerOf(rawSignature);
  if (der.empty()) return false;
  UniqueFd file(::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file) return false;
  std::unique_ptr<EVP_MD_CTX, FreeDigestContext> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key_) != 1) return false;
  std::vector<char> buffer(65536);
  for (;;) {
    ssize_t n = ::read(file.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (EVP_DigestVerifyUpdate(ctx.get(), buffer.data(), static_cast<size_t>(n)) != 1) return false;
  }
  return EVP_DigestVerifyFinal(ctx.get(), der.data(), der.size()) == 1;
}

}  // namespace parlex::update::posix
