// parlex-upload URL FILE COMPANY VISITOR
//
// Sends FILE to URL the way the capture dialog's send button does: a
// multipart POST with "companyId", "visitorId" and the file as "upload",
// agent "OstrelAgent". Prints the reply text. For checking an image
// endpoint by hand.
//
// Exit codes: 0 the request succeeded, 1 it failed (the reply is then empty),
// 2 wrong arguments.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "http/generic_http_client.h"

namespace {

bool ParseNumber(const char* text, int32_t* value) {
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return false;
  *value = static_cast<int32_t>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t company = 0;
  int32_t visitor = 0;
  if (argc != 5 || !ParseNumber(argv[3], &company) || !ParseNumber(argv[4], &visitor)) {
    std::fprintf(stderr, "usage: parlex-upload URL FILE COMPANY VISITOR\n");
    return 2;
  }
  parlex::GenericHTTPClient client;
  client.ClearFields();
  if (!client.AddField(u"companyId", company) || !client.AddField(u"visitorId", visitor) ||
      !client.AddField(u"upload", parlex::FromUtf8(argv[2]), true)) {
    std::fprintf(stderr, "parlex-upload: the file path is longer than 1023 characters\n");
    return 2;
  }
  bool ok = client.Execute(parlex::FromUtf8(argv[1]), parlex::reqMultipartPost, u"OstrelAgent");
  std::string reply = parlex::ToUtf8(client.GetReplyText());
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  std::fputc('\n', stdout);
  if (!ok) std::fprintf(stderr, "parlex-upload: the request failed (error %u)\n", client.LastError());
  return ok ? 0 : 1;
}
