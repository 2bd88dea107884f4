// The support log: one line per event that the agent's IT needs when a
// capture does not arrive or an update does not happen. The core formats
// the lines and keeps out what must never be written (page text, image
// bytes, query strings, user names and passwords); the platform half only
// appends bytes to the file. Until a sink is installed lines go nowhere, and
// a sink that cannot write loses the line and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parlex::supportlog {

enum class Level : uint8_t { kInfo, kWarning, kError };

// Local time with its offset from UTC.
struct Stamp {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int utcOffsetMinutes = 0;
};

// The file's bound: a line that would take it past this starts a new file,
// and the old one is kept once, as "<name>.1".
inline constexpr uint64_t kMaxFileBytes = uint64_t{1} << 20;
// A text longer than this is cut, so one event is never a burden.
inline constexpr size_t kMaxTextUnits = 2000;

// "2026-12-09T01:35:12.345+08:00 INFO update text\n": the time with its
// zone, the level, the area and the text, one line (control characters in
// the text become spaces; a long text is cut).
std::string FormatLine(const Stamp& stamp, Level level, std::string_view area, std::u16string_view text);

// A URL as it may be written: scheme, host, port and path only, without a
// user name, password, query string or fragment.
std::u16string LoggableUrl(std::u16string_view url);

// Whether a file of currentBytes must start afresh before a line of
// lineBytes is added.
constexpr bool NeedsRotation(uint64_t currentBytes, size_t lineBytes) {
  return currentBytes > 0 && currentBytes + lineBytes > kMaxFileBytes;
}

class ILogSink {
 public:
  virtual ~ILogSink() = default;
  virtual Stamp Now() = 0;
  // Appends one whole line; may fail silently.
  virtual void Append(std::string_view line) = 0;
};

// The process's sink, installed at start and taken away (nullptr) before it
// goes. Safe from any thread.
void SetSink(ILogSink* sink);

void Write(Level level, std::string_view area, std::u16string_view text);
inline void Info(std::string_view area, std::u16string_view text) { Write(Level::kInfo, area, text); }
inline void Warning(std::string_view area, std::u16string_view text) { Write(Level::kWarning, area, text); }
inline void Error(std::string_view area, std::u16string_view text) { Write(Level::kError, area, text); }

}  // namespace parlex::supportlog
