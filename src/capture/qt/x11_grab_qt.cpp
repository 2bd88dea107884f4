#include "capture/qt/x11_grab_qt.h"

#include <QGuiApplication>
#include <xcb/randr.h>
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

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

}  // namespace

bool GrabRootX11(const QRect& source, PixelBuffer& into, int x, int y) {
  xcb_connection_t* connection = Connection();
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

std::vector<MonitorX11> MonitorsX11() {
  xcb_connection_t* connection = Connection();
  if (!connection) return {};
  const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (!root) return {};
  std::unique_ptr<xcb_randr_get_monitors_reply_t, FreeReply> monitors(
      xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root->root, 1), nullptr));
  if (!monitors) return {};
  // Every name asked for before the first answer is read: one wait in all.
  std::vector<MonitorX11> out;
  std::vector<xcb_get_atom_name_cookie_t> names;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
       xcb_randr_monitor_info_next(&it)) {
    out.push_back(MonitorX11{QString(), QRect(it.data->x, it.data->y, it.data->width, it.data->height)});
    names.push_back(xcb_get_atom_name(connection, it.data->name));
  }
  for (size_t i = 0; i < out.size(); ++i) {
    std::unique_ptr<xcb_get_atom_name_reply_t, FreeReply> name(
        xcb_get_atom_name_reply(connection, names[i], nullptr));
    if (name)
      out[i].name =
          QString::fromLatin1(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
  }
  return out;
}

std::optional<QPoint> PointerInWindowX11(WId window) {
  xcb_connection_t* connection = Connection();
  if (!connection || !window) return std::nullopt;
  const xcb_query_pointer_cookie_t cookie = xcb_query_pointer(connection, static_cast<xcb_window_t>(window));
  std::unique_ptr<xcb_query_pointer_reply_t, FreeReply> reply(
      xcb_query_pointer_reply(connection, cookie, nullptr));
  if (!reply || !reply->same_screen) return std::nullopt;
  return QPoint(reply->win_x, reply->win_y);
}

}  // namespace parlex::qt
