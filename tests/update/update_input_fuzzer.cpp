// What the update server sends is untrusted: the version text, the reply
// head, the URL built from the base and the served signature. None of it may
// crash or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"
#include "update/auto_updater.h"
#include "update/posix/http_get.h"
#include "update/update_signature.h"
#include "update/version_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t cut = bytes.find('|');
  std::string_view first = bytes.substr(0, cut);
  std::string_view second = cut == std::string_view::npos ? std::string_view() : bytes.substr(cut + 1);

  int r = parlex::update::CompareVersionText(parlex::Widen(first), parlex::Widen(second));
  if (r != 1 && r != 0 && r != -1 && r != -21 && r != -22) __builtin_trap();
  // Comparing a text with itself is equal whenever it is a version at all.
  int self = parlex::update::CompareVersionText(parlex::Widen(first), parlex::Widen(first));
  if (self != 0 && self != -21) __builtin_trap();

  parlex::update::posix::HttpUrl url;
  if (parlex::update::posix::SplitHttpUrl(bytes, &url) &&
      (url.host.empty() || url.target.empty() || url.target[0] != '/')) {
    __builtin_trap();
  }
  // A signature is r || s whatever form it came in.
  std::optional<std::string> raw = parlex::update::RawSignature(bytes);
  if (raw && raw->size() != parlex::update::kRawSignatureBytes) __builtin_trap();
  parlex::update::BackupPath(parlex::FromUtf8(bytes), u'/');
  return 0;
}
