// Signed updates: the program carries the update key (an ECDSA P-256 public
// key, compiled in) and installs only a download whose signature, served as
// "<program name>.sig" beside it, verifies over the SHA-256 of its bytes.
// The decisions live here; the curve arithmetic is the platform's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace parlex::update {

// The served signature is tiny; anything longer is not one.
constexpr size_t kMaxSignatureBytes = 256;
// r and s, 32 bytes each, big-endian.
constexpr size_t kRawSignatureBytes = 64;
// 0x04, X, Y: the uncompressed point of a P-256 public key.
constexpr size_t kPublicPointBytes = 65;

class ISignatureVerifier {
 public:
  virtual ~ISignatureVerifier() = default;
  // True when rawSignature (r || s) is the update key's ECDSA signature over
  // the SHA-256 of the file at path. Any failure reading the file, or a key
  // the platform refuses, answers false.
  virtual bool VerifyFile(const std::u16string& path, std::string_view rawSignature) = 0;
};

// The served signature as r || s: either exactly 64 raw bytes, or a DER
// SEQUENCE of two positive INTEGERs of at most 32 significant bytes each,
// with minimal lengths and nothing after it. Empty otherwise.
std::optional<std::string> RawSignature(std::string_view served);

// A public point as the platforms take it: 65 bytes starting with 0x04.
bool IsUncompressedPoint(std::string_view point);

}  // namespace parlex::update
