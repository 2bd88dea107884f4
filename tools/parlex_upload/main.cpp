// parlex-upload URL FILE COMPANY VISITOR
//
// Sends FILE to URL the way the capture dialog's send button does: a
// multipart POST with "companyId", "visitorId" and the file as "upload",
// agent "OstrelAgent". Prints the reply text (UTF-8). For checking an image
// endpoint by hand. The Windows build takes its arguments as UTF-16 (wmain),
// so any file name works whatever the code page.
//
// Exit codes: 0 the request succeeded, 1 it failed (the reply is then empty),
// 2 wrong arguments.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/text.h"
#include "http/generic_http_client.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

bool ParseNumber(const std::u16string& argument, int32_t* value) {
  std::string text = parlex::ToUtf8(argument);
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return false;
  *value = static_cast<int32_t>(n);
  return true;
}

int Run(const std::vector<std::u16string>& args) {
  int32_t company = 0;
  int32_t visitor = 0;
  if (args.size() != 5 || !ParseNumber(args[3], &company) || !ParseNumber(args[4], &visitor)) {
    std::fprintf(stderr, "usage: parlex-upload URL FILE COMPANY VISITOR\n");
    return 2;
  }
  parlex::GenericHTTPClient client(parlex::PlatformHttpSeams());
  client.ClearFields();
  if (!client.AddField(u"companyId", company) || !client.AddField(u"visitorId", visitor) ||
      !client.AddField(u"upload", args[2], true)) {
    std::fprintf(stderr, "parlex-upload: the file path is longer than 1023 characters\n");
    return 2;
  }
  bool ok = client.Execute(args[1], parlex::reqMultipartPost, u"OstrelAgent");
  std::string reply = parlex::ToUtf8(client.GetReplyText());
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (!ok) std::fprintf(stderr, "parlex-upload: the request failed (error %u)\n", client.LastError());
  return ok ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The reply's UTF-8 bytes go out as they are, without CR LF translation.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    args.emplace_back(reinterpret_cast<const char16_t*>(arg), std::char_traits<wchar_t>::length(arg));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) args.push_back(parlex::FromUtf8(argv[i]));
  return Run(args);
}
#endif
