// The shell's lines in the support log, the same in both builds: the start
// with the addresses in effect and where they came from, a refused setting,
// a bridge call refused to a page of another origin, how each capture
// ended, and the exit code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/address_settings.h"
#include "capture/capture_report.h"

namespace parlex::app {

// build: "linux" or "win32"; platform: the system's name and version.
void LogStart(std::u16string_view build, std::u16string_view platform, const AddressesInEffect& addresses);
// Notes of the places read (a name this version does not know).
void LogSettingNotes(const std::vector<SettingSource>& sources);
void LogSettingsRefused(std::u16string_view error);
// Only the origin (scheme, host, port) of the page that called.
void LogRefusedBridgeCall(std::u16string_view name, std::u16string_view caller);
// keptFile: where a capture that was not sent went, empty when nowhere.
void LogCaptureOutcome(const CaptureReport& report, std::u16string_view keptFile);
void LogExit(int exitCode);

// The texts of those lines, for the tests.
std::u16string CaptureOutcomeText(const CaptureReport& report, std::u16string_view keptFile);

}  // namespace parlex::app
