#include "capture/qt/x11_grab_qt.h"

#include <QGuiApplication>
#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace parlex::qt {
namespace {

// About a megabyte per reply: small enough that the C library hands the
// same memory back for every strip instead of mapping fresh pages.
constexpr size_t kStripBytes = size_t{1} << 20;

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};

// Whether a Z-pixmap of the root's depth holds 32 bits per pixel in the
// layout of PixelBuffer.
bool RootMatches(const xcb_setup_t* setup, const xcb_screen_t* screen) {
  if (screen->root_depth != 24 && screen->root_depth != 32) return false;
  if ((setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST) != (std::endian::native == std::endian::little))
    return false;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
    if (it.data->depth == screen->root_depth) return it.data->bits_per_pixel == 32;
  return false;
}

}  // namespace

bool GrabRootX11(const QRect& source, PixelBuffer& into, int x, int y) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection || source.isEmpty()) return false;
  if (x < 0 || y < 0 || x + source.width() > into.Width() || y + source.height() > into.Height())
    return false;
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
  if (!screen || !RootMatches(setup, screen)) return false;
  if (source.left() < 0 || source.top() < 0 || source.right() >= screen->width_in_pixels ||
      source.bottom() >= screen->height_in_pixels)
    return false;

  const int width = source.width();
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  const int strip = static_cast<int>(std::max<size_t>(1, kStripBytes / rowBytes));
  for (int top = 0; top < source.height(); top += strip) {
    const int rows = std::min(strip, source.height() - top);
    const xcb_get_image_cookie_t cookie =
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                      static_cast<int16_t>(source.left()), static_cast<int16_t>(source.top() + top),
                      static_cast<uint16_t>(width), static_cast<uint16_t>(rows), ~0u);
    std::unique_ptr<xcb_get_image_reply_t, FreeReply> reply(xcb_get_image_reply(connection, cookie, nullptr));
    if (!reply || reply->depth != screen->root_depth) return false;
    if (static_cast<size_t>(xcb_get_image_data_length(reply.get())) < rowBytes * rows) return false;
    const uint8_t* data = xcb_get_image_data(reply.get());
    for (int row = 0; row < rows; ++row)
      std::memcpy(into.Data() + static_cast<size_t>(y + top + row) * into.Width() + x,
                  data + static_cast<size_t>(row) * rowBytes, rowBytes);
  }
  return true;
}

}  // namespace parlex::qt
