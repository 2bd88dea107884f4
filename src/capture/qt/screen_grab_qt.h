// The snapshot of the primary screen on Linux, in the screen's own device
// pixels: read from the X server, or on a Wayland desktop (where a program
// cannot read the screen, also through Xwayland) the pointer's screen asked
// of the desktop portal or grim. When none gives the screen's pixels there
// is no snapshot: the capture then ends with a message to the agent instead
// of showing a black screen.
#pragma once

#include <QImage>
#include <QRect>

#include <optional>

#include "capture/pixel_canvas.h"

class QScreen;
class QWidget;

namespace parlex::qt {

// Told to the agent when the screen cannot be read.
inline constexpr char16_t kGrabFailedCaption[] = u"提醒";
inline constexpr char16_t kGrabFailedText[] =
    u"无法截取屏幕：当前桌面不允许本程序读取屏幕画面，也没有可用的截图服务。请在 X11 会话中使用截图功能。";

struct ScreenSnapshotQt {
  PixelBuffer pixels{0, 0};
  QScreen* screen = nullptr;
  QRect geometry;     // the screen in widget (logical) pixels
  qreal ratio = 1.0;  // device pixels per logical pixel
};

// The primary screen's pixels (QScreen::grabWindow(0)); on Wayland those of
// the screen the agent works on, cut out of the portal's or grim's picture.
// A program on Wayland learns where the pointer is only over its own
// windows, so the caller names the screen of the window the agent just
// used (`workScreen`); without one, the screen under the pointer as last
// seen. None when there is no screen or no picture of the screen's device
// size comes back.
std::optional<ScreenSnapshotQt> GrabPrimaryScreenQt(QScreen* workScreen = nullptr);

// The primary screen's part of a picture of the whole desktop (device
// pixels): the picture itself when it is the screen's size, else the
// screen's rectangle cut out of it; null when it does not hold that.
QImage PrimaryScreenPart(const QImage& desktop, const QRect& geometry, qreal ratio);

// The message box for a capture that cannot start.
void TellGrabFailedQt(QWidget* parent);

}  // namespace parlex::qt
