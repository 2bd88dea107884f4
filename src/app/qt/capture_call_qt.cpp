// The page's capture call on Linux: the main window steps aside, the screen
// settles, the capture runs modally over the frozen screen, and the window
// comes back whatever the outcome.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include "app/address_settings.h"
#include "app/qt/main_window_qt.h"
#include "app/support_events.h"
#include "capture/qt/capture_files_posix.h"
#include "capture/qt/screen_view_qt.h"
#include "capture/screen_dlg.h"

namespace parlex::app::qt {
namespace {

// How long the screen gets to repaint what the hidden window covered.
constexpr int kSettleMs = 300;

}  // namespace

CaptureOutcome MainWindowQt::Capture(int32_t companyId, int32_t visitorId) {
  // There is one screen to freeze: one capture at a time.
  if (capturing_) return {};
  capturing_ = true;

  // The screen the agent works on, while the window still says so.
  QScreen* workScreen = windowHandle() ? windowHandle()->screen() : nullptr;
  hide();
  QCoreApplication::processEvents();
  // Paints and the page's timers go on while the screen settles.
  {
    QEventLoop settle;
    QTimer::singleShot(kSettleMs, &settle, &QEventLoop::quit);
    settle.exec();
  }

  CScreenDlg dialog(companyId, visitorId);
  dialog.SetUploadUrl(UploadUrlForChat(chatBaseUrl_.toStdU16String()));
  dialog.SetHttpSeams(PlatformHttpSeams());
  parlex::qt::CaptureFilesPosix files;
  dialog.SetFiles(&files);
  // A way out asked for while the screen settled: no capture at all.
  if (!pendingExit_) {
    parlex::qt::ScreenViewQt view(dialog);
    view.SetWorkScreen(workScreen);
    capture_ = &dialog;
    view.Run();
    capture_ = nullptr;
  }

  capturing_ = false;
  LogCaptureOutcome(dialog.m_report, dialog.m_szKeptFile);
  if (pendingExit_) {
    // The capture ended as Esc ends it; the program leaves without showing
    // its window again.
    const int code = *pendingExit_;
    pendingExit_.reset();
    Leave(code);
    return CaptureOutcome{dialog.m_bSent, dialog.m_szReply};
  }
  ShowAndFocus();
  if (!dialog.m_szKeptFile.empty()) Notify(kUnsentNoticeTitle, UnsentNoticeText(dialog.m_szKeptFile));
  return CaptureOutcome{dialog.m_bSent, dialog.m_szReply};
}

}  // namespace parlex::app::qt
