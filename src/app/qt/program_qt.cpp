#include "app/qt/program_qt.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "app/address_settings.h"
#include "app/posix/address_sources_posix.h"
#include "app/posix/log_file_posix.h"
#include "app/qt/main_window_qt.h"
#include "app/qt/single_instance_lock.h"
#include "app/shell_texts.h"
#include "app/support_events.h"
#include "common/support_log.h"
#include "common/text.h"
#include "parlex_config.h"
#include "update/auto_updater.h"
#include "update/posix/signature_verifier_openssl.h"
#include "update/posix/update_platform_posix.h"
#include "update/qt/update_agent_qt.h"

namespace parlex::app::qt {

namespace {

std::u16string PlatformName() {
  utsname name{};
  if (uname(&name) != 0) return u"Linux";
  return FromUtf8(name.sysname) + u" " + FromUtf8(name.release) + u" " + FromUtf8(name.machine);
}

// Where the addresses in effect come from; none (after telling the agent)
// when a setting is wrong.
std::optional<AddressesInEffect> DecideAddressesInEffect() {
  const std::vector<SettingSource> sources =
      posix::ReadConfFiles({posix::kSystemConfPath, posix::UserConfPath()});
  LogSettingNotes(sources);
  AddressDecision decision = DecideAddresses(sources, PARLEX_CHAT_URL, PARLEX_UPDATE_URL);
  if (!decision.addresses) {
    LogSettingsRefused(decision.error);
    std::fprintf(stderr, "parlex: %s\n", ToUtf8(decision.error).c_str());
    ShowBadSettingMessage(QString::fromStdU16String(decision.error));
  }
  return decision.addresses;
}

}  // namespace

QUrl AgentPageUrl(const QString& chatBaseUrl) {
  return QUrl((chatBaseUrl.isEmpty() ? ConfiguredChatBaseUrl() : chatBaseUrl) +
              QString::fromUtf16(kAgentPagePath));
}

void ShowBadSettingMessage(const QString& error) {
  QMessageBox box(QMessageBox::Critical, QString::fromUtf16(kBadSettingCaption), error, QMessageBox::Ok);
  box.exec();
}

void ShowAlreadyRunningMessage() {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(kAlreadyRunningCaption),
                  QString::fromUtf16(kAlreadyRunningText), QMessageBox::Ok);
  box.exec();
}

void PrepareProcess() {
  // The web engine refuses to start as root with its sandbox on. Agents may
  // run us as root on kiosk-like machines; do not make them set this.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void PrepareApplication() { QApplication::setQuitOnLastWindowClosed(false); }

int RunMainWindow(const QUrl& page, const QString& chatBaseUrl) {
  MainWindowQt window(page, chatBaseUrl.isEmpty() ? ConfiguredChatBaseUrl() : chatBaseUrl);
  window.ShowAndFocus();  // started with the normal show command
  return QApplication::exec();
}

int ProcessMain(int argc, char** argv) {
  // Lives as long as the process: a line may still come from a thread that
  // outlives main.
  static posix::LogFilePosix logFile(posix::LogPath());
  supportlog::SetSink(&logFile);

  // Held for the life of the process; the kernel releases it however the
  // process ends. A lock file we cannot use does not stop the program.
  SingleInstanceLock instance;
  const SingleInstanceLock::Result guard = instance.Acquire(InstanceLockPath());

  PrepareProcess();
  QApplication app(argc, argv);
  if (guard == SingleInstanceLock::Result::kAlreadyRunning) {
    // The running copy is left alone.
    supportlog::Info("start", u"another copy is running; this one shows its message and ends");
    ShowAlreadyRunningMessage();
    return kExitNormal;
  }
  PrepareApplication();

  const std::optional<AddressesInEffect> addresses = DecideAddressesInEffect();
  if (!addresses) {
    LogExit(kExitBadSettings);
    return kExitBadSettings;
  }
  LogStart(u"linux", PlatformName(), *addresses);

  // The update check, before any window exists.
  {
    update::posix::UpdatePlatformPosix updatePlatform;
    // Only one copy runs from here on (the lock above): an update cut short
    // by a killed process or a power cut is put right before anything else
    // touches the program's files.
    update::RecoverInterruptedUpdate(updatePlatform);
    update::qt::UpdateAgentQt updateAgent;
    // A build with an update key installs only programs signed with it.
    constexpr std::string_view updateKey(PARLEX_UPDATE_PUBLIC_KEY_POINT,
                                         sizeof(PARLEX_UPDATE_PUBLIC_KEY_POINT) - 1);
    update::posix::SignatureVerifierOpenSsl verifier(updateKey);
    update::CAutoUpdater updater(updatePlatform, updateAgent, {}, updateKey.empty() ? nullptr : &verifier);
    if (updater.RunUpdateCheck(addresses->update.url) == update::updInstalled) {
      update::qt::ShowUpdatedMessage();
      LogExit(kExitNormal);
      return kExitNormal;
    }
  }
  const QString chat = QString::fromStdU16String(addresses->chat.url);
  const int result = RunMainWindow(AgentPageUrl(chat), chat);
  LogExit(result);
  return result;
}

}  // namespace parlex::app::qt
