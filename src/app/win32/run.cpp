#include "app/win32/run.h"

#include "app/address_settings.h"
#include "app/shell_texts.h"
#include "app/support_events.h"
#include "app/win32/address_sources_win32.h"
#include "app/win32/main_dlg.h"
#include "common/text.h"
#include "parlex_config.h"
#include "platform/win32/app_module.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/wide_text.h"
#include "update/auto_updater.h"
#include "update/win32/signature_verifier_cng.h"
#include "update/win32/update_agent_win32.h"
#include "update/win32/update_platform_win32.h"

namespace parlex::app::win32 {

using parlex::win32::AsWide;
using parlex::win32::CMessageLoop;
using parlex::win32::g_module;

namespace {

// The loop's registration as this thread's loop. Every way out of the run
// ends it, so the module never keeps a loop that is gone.
class LoopRegistration {
 public:
  explicit LoopRegistration(CMessageLoop& loop) { g_module.AddMessageLoop(&loop); }
  LoopRegistration(const LoopRegistration&) = delete;
  LoopRegistration& operator=(const LoopRegistration&) = delete;
  ~LoopRegistration() { End(); }

  void End() {
    if (registered_) g_module.RemoveMessageLoop();
    registered_ = false;
  }

 private:
  bool registered_ = true;
};

// "Windows 10.0.19045": the version the system says it is, not the one it
// tells programs without a manifest entry for it.
std::u16string PlatformName() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto getVersion = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                          : nullptr;
  if (getVersion == nullptr || getVersion(&info) != 0) return u"Windows";
  return u"Windows " + FormatDecimal(static_cast<int32_t>(info.dwMajorVersion)) + u"." +
         FormatDecimal(static_cast<int32_t>(info.dwMinorVersion)) + u"." +
         FormatDecimal(static_cast<int32_t>(info.dwBuildNumber));
}

}  // namespace

std::optional<AddressesInEffect> DecideAddressesInEffect() {
  const std::vector<SettingSource> sources = ReadRegistrySources();
  LogSettingNotes(sources);
  AddressDecision decision = DecideAddresses(sources, PARLEX_CHAT_URL, PARLEX_UPDATE_URL);
  if (!decision.addresses) {
    LogSettingsRefused(decision.error);
    ::MessageBoxW(nullptr, parlex::win32::ToWide(decision.error).c_str(), AsWide(kBadSettingCaption),
                  MB_OK | MB_ICONERROR);
  }
  return decision.addresses;
}

int Run(LPWSTR /*commandLine*/, int showCommand) {
  const std::optional<AddressesInEffect> addresses = DecideAddressesInEffect();
  if (!addresses) return kExitBadSettings;
  LogStart(u"win32", PlatformName(), *addresses);

  // Objects end in reverse order: the main window, then the loop.
  CMessageLoop loop;
  LoopRegistration registration(loop);

  // The update check, before any window exists. The updater (and its
  // internet session) is declared before the main window so that it
  // outlives it: the session closes when this procedure returns.
  update::win32::UpdatePlatformWin32 updatePlatform;
  // Only one copy runs from here on (the entry made sure): an update cut
  // short by a killed process or a power cut is put right before anything
  // else touches the program's files.
  update::RecoverInterruptedUpdate(updatePlatform);
  update::win32::UpdateAgentWin32 updateAgent;
  // A build with an update key installs only programs signed with it.
  constexpr std::string_view updateKey(PARLEX_UPDATE_PUBLIC_KEY_POINT,
                                       sizeof(PARLEX_UPDATE_PUBLIC_KEY_POINT) - 1);
  update::win32::SignatureVerifierCng verifier(updateKey);
  update::CAutoUpdater updater(updatePlatform, updateAgent, {}, updateKey.empty() ? nullptr : &verifier);
  if (updater.RunUpdateCheck(addresses->update.url) == update::updInstalled) {
    update::win32::ShowUpdatedMessage();
    return kExitNormal;
  }

  CMainDlg mainDlg;
  mainDlg.SetChatBaseUrl(addresses->chat.url);
  if (!mainDlg.Create()) return kExitNormal;
  ::ShowWindow(mainDlg.GetHwnd(), showCommand);

  int result = loop.Run();

  registration.End();
  return result;
}

}  // namespace parlex::app::win32
