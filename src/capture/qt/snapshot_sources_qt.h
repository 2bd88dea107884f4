// Where the snapshot comes from on a Wayland desktop. There a program cannot
// read the screen itself, and under Xwayland an X grab reads Xwayland's own
// root window, which is black: the picture is asked of the desktop portal
// (GNOME, KDE), then of grim (wlroots desktops such as sway).
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace parlex::qt {

// The longest a silent portal or helper holds up a capture.
inline constexpr int kSnapshotSourceTimeoutMs = 5000;
// The most a helper may write: a desktop of 16384 x 8192 device pixels in
// PPM, with room to spare.
inline constexpr qint64 kSnapshotHelperMaxBytes = qint64{512} << 20;

// Whether the session's desktop is a Wayland one (XDG_SESSION_TYPE=wayland
// or WAYLAND_DISPLAY set), also when Qt itself runs through Xwayland.
bool InWaylandSessionQt();

// The picture of the whole desktop in device pixels, its top-left corner
// the top-left corner of the desktop: the portal's, else grim's; a null
// image when neither gives one.
QImage DesktopSnapshotQt();

// The image a helper program writes to its standard output (any format Qt
// reads): null when the program is not there, fails, writes nothing
// readable, writes more than `maxBytes` or is not done within `timeoutMs`
// (it is then killed).
QImage ImageFromHelperQt(const QString& program, const QStringList& arguments,
                         int timeoutMs = kSnapshotSourceTimeoutMs, qint64 maxBytes = kSnapshotHelperMaxBytes);

}  // namespace parlex::qt
