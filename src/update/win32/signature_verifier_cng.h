// The update key's check on Windows, with CNG: ECDSA P-256 over SHA-256.
#pragma once

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <string>
#include <string_view>

#include "update/update_signature.h"

namespace parlex::update::win32 {

class SignatureVerifierCng : public ISignatureVerifier {
 public:
  // publicPoint: 0x04, X, Y. A point CNG refuses as a P-256 key makes a
  // verifier that accepts nothing.
  explicit SignatureVerifierCng(std::string_view publicPoint);
  ~SignatureVerifierCng() override;
  SignatureVerifierCng(const SignatureVerifierCng&) = delete;
  SignatureVerifierCng& operator=(const SignatureVerifierCng&) = delete;

  bool HasKey() const { return key_ != nullptr; }
  bool VerifyFile(const std::u16string& path, std::string_view rawSignature) override;

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

}  // namespace parlex::update::win32
