#include "update/win32/signature_verifier_cng.h"

#include <cstring>
#include <vector>

namespace parlex::update::win32 {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

struct AlgorithmOwner {
  BCRYPT_ALG_HANDLE handle = nullptr;
  ~AlgorithmOwner() {
    if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
  }
};
struct HashOwner {
  BCRYPT_HASH_HANDLE handle = nullptr;
  ~HashOwner() {
    if (handle != nullptr) BCryptDestroyHash(handle);
  }
};
struct FileOwner {
  HANDLE handle;
  ~FileOwner() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// SHA-256 of the file at path, streamed; empty on any failure.
std::vector<UCHAR> HashFile(const std::u16string& path) {
  FileOwner file{CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) return {};
  AlgorithmOwner sha;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&sha.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return {};
  HashOwner hash;
  if (!Succeeded(BCryptCreateHash(sha.handle, &hash.handle, nullptr, 0, nullptr, 0, 0))) return {};
  std::vector<UCHAR> buffer(65536);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return {};
    if (got == 0) break;
    if (!Succeeded(BCryptHashData(hash.handle, buffer.data(), got, 0))) return {};
  }
  std::vector<UCHAR> digest(32);
  if (!Succeeded(BCryptFinishHash(hash.handle, digest.data(), static_cast<ULONG>(digest.size()), 0)))
    return {};
  return digest;
}

}  // namespace

SignatureVerifierCng::SignatureVerifierCng(std::string_view publicPoint) {
  if (!IsUncompressedPoint(publicPoint)) return;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    algorithm_ = nullptr;
    return;
  }
  // BCRYPT_ECCKEY_BLOB followed by X and Y, 32 bytes each.
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, publicPoint.data() + 1, 64);
  if (!Succeeded(BCryptImportKeyPair(algorithm_, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_, blob.data(),
                                     static_cast<ULONG>(blob.size()), 0))) {
    key_ = nullptr;
  }
}

SignatureVerifierCng::~SignatureVerifierCng() {
  if (key_ != nullptr) BCryptDestroyKey(key_);
  if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool SignatureVerifierCng::VerifyFile(const std::u16string& path, std::string_view rawSignature) {
  if (key_ == nullptr || rawSignature.size() != kRawSignatureBytes) return false;
  std::vector<UCHAR> digest = HashFile(path);
  if (digest.empty()) return false;
  std::vector<UCHAR> signature(rawSignature.begin(), rawSignature.end());
  return BCryptVerifySignature(key_, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                               signature.data(), static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace parlex::update::win32
