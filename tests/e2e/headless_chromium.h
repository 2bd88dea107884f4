// Debian's Chromium, headless, as a visitor's browser in a test: driven over
// its DevTools protocol on a pipe (--remote-debugging-pipe: JSON messages
// ended by a NUL byte, the browser reading fd 3 and writing fd 4), so no
// port is taken and no WebSocket is needed. Every wait is bounded; the
// browser ends with the object, or with the test process however it ends.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace parlex::test {

class HeadlessChromium {
 public:
  HeadlessChromium() = default;
  ~HeadlessChromium();
  HeadlessChromium(const HeadlessChromium&) = delete;
  HeadlessChromium& operator=(const HeadlessChromium&) = delete;

  // Starts the browser with a fresh profile; false when it does not answer.
  bool Start();
  // What the browser wrote on its standard output and error (for a failure).
  std::string Log() const { return TempDir::Read(profile_.File("chromium.log")); }

  // Opens url in a new tab and answers the tab's session, or "" on failure.
  // A tab of a context of its own shares no storage with the others: it is
  // another visitor.
  std::string Open(const std::string& url, bool ownContext);

  // The value of a script expression in the tab, or nothing when it threw
  // or the browser did not answer.
  std::optional<nlohmann::json> Evaluate(const std::string& session, const std::string& expression);
  // Types text into the focused element, then presses Enter if asked.
  bool Type(const std::string& session, const std::string& text, bool enter);
  // A PNG of what the tab shows, in base64; "" on failure.
  std::string Screenshot(const std::string& session);

 private:
  // One protocol call, waiting at most timeoutMs for its answer's result.
  std::optional<nlohmann::json> Call(const std::string& method, const nlohmann::json& params,
                                     const std::string& session, int timeoutMs = 15000);

  TempDir profile_{"chromium"};
  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::string pending_;
  int lastId_ = 0;
};

}  // namespace parlex::test
