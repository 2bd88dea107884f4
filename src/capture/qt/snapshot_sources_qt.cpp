#include "capture/qt/snapshot_sources_qt.h"

#include <QByteArray>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include "capture/qt/screenshot_portal_qt.h"

namespace parlex::qt {

bool InWaylandSessionQt() {
  return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) ==
             0 ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QImage DesktopSnapshotQt() {
  QImage image = ScreenshotThroughPortalQt(kSnapshotSourceTimeoutMs);
  if (!image.isNull()) return image;
  // grim reads every output through wlroots' screencopy, laid out in desktop
  // coordinates at the largest output scale. PPM: nothing to compress.
  return ImageFromHelperQt(QStringLiteral("grim"),
                           {QStringLiteral("-t"), QStringLiteral("ppm"), QStringLiteral("-")});
}

QImage ImageFromHelperQt(const QString& program, const QStringList& arguments, int timeoutMs,
                         qint64 maxBytes) {
  const QString path = program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
  if (path.isEmpty()) return {};
  QProcess helper;
  helper.setStandardInputFile(QProcess::nullDevice());
  helper.setStandardErrorFile(QProcess::nullDevice());

  // The loop runs until the helper is done, fails to start, writes too much
  // or runs out of time; paints and timers go on meanwhile.
  enum class State { kRunning, kFinished, kFailed } state = State::kRunning;
  QByteArray out;
  QEventLoop loop;
  auto stop = [&](State why) {
    if (state != State::kRunning) return;
    state = why;
    loop.exit(0);
  };
  QObject::connect(&helper, &QProcess::readyReadStandardOutput, &loop, [&] {
    out += helper.readAllStandardOutput();
    if (out.size() > maxBytes) stop(State::kFailed);
  });
  QObject::connect(&helper, &QProcess::finished, &loop, [&] { stop(State::kFinished); });
  QObject::connect(&helper, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) stop(State::kFailed);
  });
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { stop(State::kFailed); });
  deadline.start(timeoutMs);
  helper.start(path, arguments, QIODevice::ReadOnly);
  while (state == State::kRunning) loop.exec();

  if (state != State::kFinished) {
    helper.kill();
    helper.waitForFinished(1000);
    return {};
  }
  out += helper.readAllStandardOutput();
  if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0 || out.size() > maxBytes)
    return {};
  return QImage::fromData(out);
}

}  // namespace parlex::qt
