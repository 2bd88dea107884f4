#include "app/support_events.h"

#include "common/support_log.h"
#include "common/text.h"
#include "parlex_config.h"

namespace parlex::app {
namespace {

std::u16string Number(int64_t value) { return Widen(std::to_string(value)); }

std::u16string Address(const AddressInEffect& address) {
  return supportlog::LoggableUrl(address.url) + u" (from " + address.source + u")";
}

}  // namespace

void LogStart(std::u16string_view build, std::u16string_view platform, const AddressesInEffect& addresses) {
  supportlog::Info("start", u"Parlex " + Widen(PARLEX_VERSION_TEXT) + u", " + std::u16string(build) +
                                u" build, on " + std::u16string(platform) + u"; chat " +
                                Address(addresses.chat) + u"; update " + Address(addresses.update));
}

void LogSettingNotes(const std::vector<SettingSource>& sources) {
  for (const SettingSource& source : sources)
    for (const std::u16string& note : source.notes) supportlog::Warning("settings", note);
}

void LogSettingsRefused(std::u16string_view error) {
  supportlog::Error("settings", u"not started: " + std::u16string(error));
}

void LogRefusedBridgeCall(std::u16string_view name, std::u16string_view caller) {
  // The origin only: scheme, host and port.
  std::u16string origin = supportlog::LoggableUrl(caller);
  const size_t scheme = origin.find(u"://");
  if (scheme != std::u16string::npos) origin = origin.substr(0, origin.find(u'/', scheme + 3));
  supportlog::Warning("bridge", u"refused " + std::u16string(CutAtUnits(name, 32)) + u" from " +
                                    std::u16string(CutAtUnits(origin, 200)));
}

std::u16string CaptureOutcomeText(const CaptureReport& report, std::u16string_view keptFile) {
  using Outcome = CaptureReport::Outcome;
  const std::u16string size = Number(static_cast<int64_t>(report.bytes)) + u" bytes";
  switch (report.outcome) {
    case Outcome::kNone:
      return u"ended by the program's way out";
    case Outcome::kCancelled:
      return u"cancelled";
    case Outcome::kSaved:
      return u"saved, " + size;
    case Outcome::kSaveFailed:
      return u"not saved: " + report.reason;
    case Outcome::kCopied:
      return u"copied to the clipboard";
    case Outcome::kSent:
      return u"sent, HTTP " + Number(report.httpStatus) + u", " + size + u", " + Number(report.milliseconds) +
             u" ms";
    case Outcome::kNotSent: {
      std::u16string text = u"not sent: " + (report.reason.empty() ? u"failed" : report.reason);
      if (report.httpStatus != 0) text += u", HTTP " + Number(report.httpStatus);
      text += u", " + size + u", " + Number(report.milliseconds) + u" ms; ";
      text += keptFile.empty() ? u"nothing kept" : u"kept as " + std::u16string(keptFile);
      return text;
    }
  }
  return std::u16string();
}

void LogCaptureOutcome(const CaptureReport& report, std::u16string_view keptFile) {
  const bool failed = report.outcome == CaptureReport::Outcome::kNotSent ||
                      report.outcome == CaptureReport::Outcome::kSaveFailed;
  supportlog::Write(failed ? supportlog::Level::kWarning : supportlog::Level::kInfo, "capture",
                    CaptureOutcomeText(report, keptFile));
}

void LogExit(int exitCode) { supportlog::Info("exit", u"exit code " + Number(exitCode)); }

}  // namespace parlex::app
