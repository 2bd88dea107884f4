// The snapshot of the desktop on Linux, in the screens' own device pixels:
// on X every monitor, read from the X server; on a Wayland desktop (where a
// program cannot read the screen, also through Xwayland) the screen the
// agent works on, cut out of the desktop portal's or grim's picture. When
// none gives the pixels there is no snapshot: the capture then ends with a
// message to the agent instead of showing a black screen.
#pragma once

#include <QImage>
#include <QRect>

#include <optional>
#include <vector>

#include "capture/pixel_canvas.h"
#include "capture/screen_view.h"

class QScreen;
class QWidget;

namespace parlex::qt {

// Told to the agent when the screen cannot be read.
inline constexpr char16_t kGrabFailedCaption[] = u"提醒";
inline constexpr char16_t kGrabFailedText[] =
    u"无法截取屏幕：当前桌面不允许本程序读取屏幕画面，也没有可用的截图服务。请在 X11 会话中使用截图功能。";

struct ScreenSnapshotQt {
  PixelBuffer pixels{0, 0};   // the desktop's bounding box
  QScreen* screen = nullptr;  // the screen the window is placed on
  QRect geometry;             // the window over the desktop, in widget (logical) pixels
  qreal ratio = 1.0;          // device pixels per logical pixel of the window
  // Every monitor in pixels of the picture.
  std::vector<MonitorArea> monitors;
  // One screen: the window is made full-screen on it.
  bool single = true;
};

// Where a screen's device pixels lie on the desktop. Qt scales each screen's
// geometry about its own top-left, so that corner is the same in logical and
// device pixels and the size is the logical one times the screen's ratio.
QRect DeviceRect(const QRect& logical, qreal ratio);

// The desktop's pixels and its monitors; none when there is no screen or no
// picture of the desktop's device size comes back. On a Wayland desktop,
// where one window covers one output, only the screen the agent works on: a
// program there learns where the pointer is only over its own windows, so
// the caller names the screen of the window the agent just used
// (`workScreen`); without one, the screen under the pointer as last seen.
std::optional<ScreenSnapshotQt> GrabDesktopQt(QScreen* workScreen = nullptr);

// The primary screen's part of a picture of the whole desktop (device
// pixels): the picture itself when it is the screen's size, else the
// screen's rectangle cut out of it; null when it does not hold that.
QImage PrimaryScreenPart(const QImage& desktop, const QRect& geometry, qreal ratio);

// The message box for a capture that cannot start.
void TellGrabFailedQt(QWidget* parent);

}  // namespace parlex::qt
