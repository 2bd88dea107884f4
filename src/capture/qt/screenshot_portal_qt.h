// The desktop portal's Screenshot interface (org.freedesktop.portal.
// Screenshot over the session bus): how a program on a Wayland desktop gets
// the screen's pixels, since it cannot read them itself. The portal answers
// through a request object's Response signal with the URI of an image file.
#pragma once

#include <QImage>

namespace parlex::qt {

// A screenshot of the whole desktop without questions to the agent (the
// portal may still ask); a null image when there is no portal, it refuses,
// or no answer comes within `timeoutMs` (the request is then closed). The
// image file the portal wrote for us is removed once read: it is no picture
// the agent asked to keep.
QImage ScreenshotThroughPortalQt(int timeoutMs = 5000);

}  // namespace parlex::qt
