#include "common/support_log.h"

#include <cstdio>
#include <mutex>

#include "common/text.h"

namespace parlex::supportlog {
namespace {

std::mutex& SinkLock() {
  static std::mutex lock;
  return lock;
}

ILogSink*& CurrentSink() {
  static ILogSink* sink = nullptr;
  return sink;
}

const char* LevelName(Level level) {
  switch (level) {
    case Level::kInfo:
      return "INFO";
    case Level::kWarning:
      return "WARN";
    case Level::kError:
      return "ERROR";
  }
  return "INFO";
}

}  // namespace

std::string FormatLine(const Stamp& stamp, Level level, std::string_view area, std::u16string_view text) {
  const int offset = stamp.utcOffsetMinutes < 0 ? -stamp.utcOffsetMinutes : stamp.utcOffsetMinutes;
  char head[64];
  std::snprintf(head, sizeof head, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d ", stamp.year, stamp.month,
                stamp.day, stamp.hour, stamp.minute, stamp.second, stamp.millisecond,
                stamp.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  std::u16string body(CutAtUnits(text, kMaxTextUnits));
  for (char16_t& c : body)
    if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) c = u' ';
  std::string line = head;
  line += LevelName(level);
  line += ' ';
  line += area;
  line += ' ';
  line += ToUtf8(body);
  line += '\n';
  return line;
}

std::u16string LoggableUrl(std::u16string_view url) {
  std::u16string out(url.substr(0, url.find_first_of(u"?#")));
  const size_t scheme = out.find(u"://");
  const size_t start = scheme == std::u16string::npos ? 0 : scheme + 3;
  const size_t end = out.find(u'/', start);
  const size_t at = out.rfind(u'@', end == std::u16string::npos ? std::u16string::npos : end);
  if (at != std::u16string::npos && at >= start) out.erase(start, at + 1 - start);
  return out;
}

void SetSink(ILogSink* sink) {
  std::lock_guard<std::mutex> guard(SinkLock());
  CurrentSink() = sink;
}

void Write(Level level, std::string_view area, std::u16string_view text) {
  // Held while the line is written: a sink is never taken away under a
  // writer, and lines of two threads never mix.
  std::lock_guard<std::mutex> guard(SinkLock());
  ILogSink* sink = CurrentSink();
  if (sink == nullptr) return;
  try {
    sink->Append(FormatLine(sink->Now(), level, area, text));
  } catch (...) {
    // Memory ran out: the line is lost, nothing else.
  }
}

}  // namespace parlex::supportlog
