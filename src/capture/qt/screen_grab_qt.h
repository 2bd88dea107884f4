// The snapshot of the primary screen on Linux, in the screen's own device
// pixels. A desktop that does not let programs read the screen (a Wayland
// session) or a grab that comes back empty gives no snapshot: the capture
// then ends with a message to the agent instead of showing a black screen.
#pragma once

#include <QRect>

#include <optional>

#include "capture/pixel_canvas.h"

class QScreen;
class QWidget;

namespace parlex::qt {

// Told to the agent when the screen cannot be read.
inline constexpr char16_t kGrabFailedCaption[] = u"提醒";
inline constexpr char16_t kGrabFailedText[] =
    u"无法截取屏幕：当前桌面不允许程序读取屏幕画面（例如 Wayland 会话）。请在 X11 会话中使用截图功能。";

struct ScreenSnapshotQt {
  PixelBuffer pixels{0, 0};
  QScreen* screen = nullptr;
  QRect geometry;     // the screen in widget (logical) pixels
  qreal ratio = 1.0;  // device pixels per logical pixel
};

// The primary screen's pixels (QScreen::grabWindow(0)); none when there is
// no screen, the session forbids reading it, or the grab is empty or not of
// the screen's device size.
std::optional<ScreenSnapshotQt> GrabPrimaryScreenQt();

// The message box for a capture that cannot start.
void TellGrabFailedQt(QWidget* parent);

}  // namespace parlex::qt
