// Memory over a day of captures on the Linux build: 100 captures in a row in
// one process, each with the real capture window (Qt, under X), a selection,
// an arrow, a text and a send to the demo chat service (a process of its
// own, so that what it keeps does not count here). Prints the resident set
// (RSS) and the proportional set (PSS) after the 1st, 10th, 50th and 100th
// capture, and the growth from the 10th to the 100th.
//
// The page engine is left out on purpose: what grows here is the capture's
// own (our code and Qt's widgets); what grows only in the whole program is
// the page engine's, behind the synchronous bridge.
//
//   xvfb-run -a build/linux/bench/capture_memory_qt_bench [COUNT]
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "capture/qt/capture_files_posix.h"
#include "capture/qt/screen_view_qt.h"
#include "capture/qt/text_editor_qt.h"
#include "capture/screen_dlg.h"
#include "http/http_seams.h"
#include "support/child_process.h"

namespace {

// A field of /proc/self/smaps_rollup ("Rss:", "Pss:") in kB.
long RollupKb(const std::string& field) {
  std::ifstream in("/proc/self/smaps_rollup");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
  return -1;
}

// Starts the demo service on a free port; answers its image endpoint.
std::u16string StartService(parlex::test::ChildProcess& service, const std::string& binary,
                            const std::string& dataDir) {
  if (!service.Start(binary, {binary, "--port", "0", "--data-dir", dataDir})) return {};
  const std::optional<std::string> line = service.ReadLine(10000);
  if (!line) return {};
  const size_t at = line->find("http://");
  if (at == std::string::npos) return {};
  return QString::fromStdString(line->substr(at) + "resource/staff/image").toStdU16String();
}

// One capture driven through the dialog's own entry points, as the window's
// events would drive it.
bool OneCapture(const std::u16string& url, parlex::qt::CaptureFilesPosix& files) {
  using namespace parlex;
  CScreenDlg dialog(12, 34);
  dialog.SetUploadUrl(url);
  dialog.SetHttpSeams(PlatformHttpSeams());
  dialog.SetFiles(&files);
  qt::ScreenViewQt view(dialog);
  QTimer::singleShot(50, [&] {
    dialog.OnLButtonDown({300, 200});
    dialog.OnMouseMove({500, 350});
    dialog.OnMouseMove({700, 500});
    dialog.OnLButtonUp({700, 500});
    view.Button(kBtnArrow)->setChecked(true);
    dialog.OnLButtonDown({350, 250});
    dialog.OnMouseMove({420, 300});
    dialog.OnMouseMove({500, 350});
    dialog.OnLButtonUp({500, 350});
    view.Button(kBtnText)->setChecked(true);
    dialog.OnLButtonDown({350, 420});
    if (view.Editor()) view.Editor()->setPlainText(QStringLiteral("Hi 你好"));
    dialog.CommitText();
    dialog.OnSend();
  });
  view.Run();
  return dialog.m_bSent && !dialog.m_szReply.empty();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 100;
  char dataDir[] = "/tmp/parlex-memory-bench-XXXXXX";
  if (!::mkdtemp(dataDir)) return 1;
  const std::string service =
      QCoreApplication::applicationDirPath().toStdString() + "/../parlex-demo-service";
  parlex::test::ChildProcess child;
  const std::u16string url = StartService(child, service, dataDir);
  if (url.empty()) {
    std::fprintf(stderr, "capture_memory_qt_bench: the demo service did not start (%s)\n", service.c_str());
    return 1;
  }
  parlex::qt::CaptureFilesPosix files;
  long rss10 = 0, pss10 = 0;
  int failed = 0;
  for (int i = 1; i <= count; ++i) {
    if (!OneCapture(url, files)) ++failed;
    QCoreApplication::processEvents();
    if (i == 1 || i == 10 || i == 50 || i == count) {
      const long rss = RollupKb("Rss:");
      const long pss = RollupKb("Pss:");
      std::printf("after %3d captures: RSS %.1f MB  PSS %.1f MB\n", i, rss / 1024.0, pss / 1024.0);
      if (i == 10) rss10 = rss, pss10 = pss;
      if (i == count && count > 10)
        std::printf("growth from 10 to %d: RSS %+.1f MB  PSS %+.1f MB\n", count, (rss - rss10) / 1024.0,
                    (pss - pss10) / 1024.0);
    }
  }
  std::printf("captures not sent: %d\n", failed);
  child.Signal(SIGTERM);
  std::system((std::string("rm -rf '") + dataDir + "'").c_str());
  return failed == 0 ? 0 : 1;
}
