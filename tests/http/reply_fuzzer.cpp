// The reply reader on raw bytes: the first byte picks how many bytes each
// receive delivers, the rest is what the "server" sends. The client must
// never crash, keep at most 1023 units of text and leave the text alone when
// it fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/generic_http_client.h"
#include "http/memory_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  parlex::test::MemoryTransport::Script script;
  script.chunk = 1 + data[0] % 64;
  script.reply.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  parlex::test::MemoryTransport::Log log;
  parlex::GenericHTTPClient client(std::make_unique<parlex::test::MemoryTransport>(script, &log),
                                   parlex::test::FakeMimeTypes);
  bool ok = client.Execute(u"http://h/p", parlex::reqGet, u"A");
  if (client.GetReplyText().size() > parlex::GenericHTTPClient::kMaxReplyUnits) std::abort();
  if (!ok && !client.GetReplyText().empty()) std::abort();
  if (ok && client.GetReplyHeaders().substr(0, 5) != u"HTTP/") std::abort();
  if (log.open != 0) std::abort();
  return 0;
}
