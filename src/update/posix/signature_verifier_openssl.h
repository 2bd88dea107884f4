// The update key's check on Linux, with OpenSSL: ECDSA P-256 over SHA-256.
#pragma once

#include <openssl/evp.h>

#include <string>
#include <string_view>

#include "update/update_signature.h"

namespace parlex::update::posix {

class SignatureVerifierOpenSsl : public ISignatureVerifier {
 public:
  // publicPoint: 0x04, X, Y. A point that is not on P-256 makes a verifier
  // that accepts nothing.
  explicit SignatureVerifierOpenSsl(std::string_view publicPoint);
  ~SignatureVerifierOpenSsl() override;
  SignatureVerifierOpenSsl(const SignatureVerifierOpenSsl&) = delete;
  SignatureVerifierOpenSsl& operator=(const SignatureVerifierOpenSsl&) = delete;

  bool HasKey() const { return key_ != nullptr; }
  bool VerifyFile(const std::u16string& path, std::string_view rawSignature) override;

 private:
  EVP_PKEY* key_ = nullptr;
};

}  // namespace parlex::update::posix
