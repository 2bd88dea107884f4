#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace parlex::demo {
namespace {

constexpr const char* kUsage =
    "usage: parlex-demo-service [--port N] [--data-dir DIR] [--update-dir DIR]\n"
    "  --port N         port on 127.0.0.1 (default 18380; 0 picks a free one)\n"
    "  --data-dir DIR   where uploaded images are stored (default: a new private folder)\n"
    "  --update-dir DIR serves update.txt and the program files under /update/\n";

bool ParsePort(const char* text, int* port) {
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < 0 || n > 65535) return false;
  *port = static_cast<int>(n);
  return true;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kUsage, stdout);
      options.help = true;
      return options;
    }
    bool known = std::strcmp(arg, "--port") == 0 || std::strcmp(arg, "--data-dir") == 0 ||
                 std::strcmp(arg, "--update-dir") == 0;
    if (!known) {
      std::fprintf(stderr, "parlex-demo-service: unknown option %s\n%s", arg, kUsage);
      return std::nullopt;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "parlex-demo-service: %s needs a value\n%s", arg, kUsage);
      return std::nullopt;
    }
    const char* value = argv[++i];
    if (std::strcmp(arg, "--port") == 0) {
      if (!ParsePort(value, &options.port)) {
        std::fprintf(stderr, "parlex-demo-service: bad port \"%s\"\n", value);
        return std::nullopt;
      }
    } else if (std::strcmp(arg, "--data-dir") == 0) {
      options.dataDir = value;
    } else {
      options.updateDir = value;
    }
  }
  return options;
}

}  // namespace parlex::demo
