#include "app/qt/program_qt.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdlib>

#include "app/qt/main_window_qt.h"
#include "app/qt/single_instance_lock.h"
#include "app/shell_texts.h"
#include "parlex_config.h"
#include "update/auto_updater.h"
#include "update/posix/signature_verifier_openssl.h"
#include "update/posix/update_platform_posix.h"
#include "update/qt/update_agent_qt.h"

namespace parlex::app::qt {

QUrl AgentPageUrl() { return QUrl(QString::fromUtf16(PARLEX_CHAT_URL) + QString::fromUtf16(kAgentPagePath)); }

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

int RunMainWindow(const QUrl& page) {
  MainWindowQt window(page);
  window.ShowAndFocus();  // started with the normal show command
  return QApplication::exec();
}

int ProcessMain(int argc, char** argv) {
  // Held for the life of the process; the kernel releases it however the
  // process ends. A lock file we cannot use does not stop the program.
  SingleInstanceLock instance;
  const SingleInstanceLock::Result guard = instance.Acquire(InstanceLockPath());

  PrepareProcess();
  QApplication app(argc, argv);
  if (guard == SingleInstanceLock::Result::kAlreadyRunning) {
    // The running copy is left alone.
    ShowAlreadyRunningMessage();
    return kExitNormal;
  }
  PrepareApplication();

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
    if (updater.RunUpdateCheck(PARLEX_UPDATE_URL) == update::updInstalled) {
      update::qt::ShowUpdatedMessage();
      return kExitNormal;
    }
  }
  return RunMainWindow(AgentPageUrl());
}

}  // namespace parlex::app::qt
