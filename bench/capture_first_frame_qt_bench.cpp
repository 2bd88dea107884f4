// The Linux capture window's start: from the start of the modal run (the
// screen is read from the X server, the dialog makes its dimmed copy, the
// window composes its image and shows) to the first frame painted on the
// screen. Run under X (for example Xvfb at 1920 x 1080).
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>

#include "capture/qt/screen_view_qt.h"
#include "capture/screen_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;

// Ends the dialog right after the window's first paint, noting when that was.
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(parlex::CScreenDlg& dialog) : dialog_(dialog) {}
  std::optional<Clock::time_point> at;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!at && event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      // After the paint itself and its flush to the screen.
      QTimer::singleShot(0, this, [this] {
        at = Clock::now();
        dialog_.OnCancel();
      });
    }
    return false;
  }

 private:
  parlex::CScreenDlg& dialog_;
};

void BM_RunToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    parlex::CScreenDlg dialog(12, 34);
    parlex::qt::ScreenViewQt view(dialog);
    FirstPaint first(dialog);
    QCoreApplication::instance()->installEventFilter(&first);
    const Clock::time_point start = Clock::now();
    view.Run();
    QCoreApplication::instance()->removeEventFilter(&first);
    if (!first.at) {
      state.SkipWithError("the capture window never painted");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(*first.at - start).count());
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_RunToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
