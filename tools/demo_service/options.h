// The service's command line.
#pragma once

#include <optional>
#include <string>

namespace parlex::demo {

struct Options {
  int port = 18380;       // 0: any free port (the first output line names it)
  std::string dataDir;    // empty: a private folder made at start
  std::string updateDir;  // empty: no update files are served
  bool help = false;      // --help: the usage was printed, nothing more to do
};

// The options, or nothing (with a message on standard error) when the
// command line is wrong. --help prints the usage and answers help set.
std::optional<Options> ParseOptions(int argc, char** argv);

}  // namespace parlex::demo
