// virtual-pointer: gives a headless wlroots desktop (sway-run) a pointer.
// Without an input device the seat offers its clients no pointer at all, so
// the cursor that `swaymsg seat - cursor ...` moves and clicks reaches no
// window.
//   virtual-pointer                  adds a pointer to the seat, prints
//                                    "ready" once the compositor has it and
//                                    keeps it until it is ended or the
//                                    desktop goes away;
//   virtual-pointer move X Y W H     moves the pointer to (X, Y) of a W x H
//                                    desktop, as a real mouse does: unlike
//                                    sway's own cursor commands this reaches
//                                    the window while a button is held.
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The two interfaces of the wlroots virtual pointer protocol this program
// uses, written out as wayland-scanner would (only the requests' order and
// signatures matter to the wire).
const wl_interface* kNoTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
const wl_message kPointerRequests[] = {
    {"motion", "uff", kNoTypes},   {"motion_absolute", "uuuuu", kNoTypes},
    {"button", "uuu", kNoTypes},   {"axis", "uuf", kNoTypes},
    {"frame", "", kNoTypes},       {"axis_source", "u", kNoTypes},
    {"axis_stop", "uu", kNoTypes}, {"axis_discrete", "uufi", kNoTypes},
    {"destroy", "", kNoTypes},
};
const wl_interface kPointerInterface = {"zwlr_virtual_pointer_v1", 1, 9, kPointerRequests, 0, nullptr};
const wl_interface* kCreateTypes[] = {&wl_seat_interface, &kPointerInterface};
const wl_message kManagerRequests[] = {
    {"create_virtual_pointer", "?on", kCreateTypes},
    {"destroy", "", kNoTypes},
};
const wl_interface kManagerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr};

struct Globals {
  wl_proxy* manager = nullptr;
  wl_seat* seat = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* globals = static_cast<Globals*>(data);
  if (std::strcmp(interface, kManagerInterface.name) == 0)
    globals->manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManagerInterface, 1));
  else if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr)
    globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

}  // namespace

int main(int argc, char** argv) {
  const bool move = argc == 6 && std::strcmp(argv[1], "move") == 0;
  if (argc != 1 && !move) {
    std::fprintf(stderr, "usage: virtual-pointer [move X Y WIDTH HEIGHT]\n");
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "virtual-pointer: no Wayland display\n");
    return 1;
  }
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &globals);
  wl_display_roundtrip(display);
  if (globals.manager == nullptr) {
    std::fprintf(stderr, "virtual-pointer: the compositor has no virtual pointers\n");
    return 1;
  }
  wl_proxy* pointer =
      wl_proxy_marshal_constructor(globals.manager, 0, &kPointerInterface, globals.seat, nullptr);
  if (pointer == nullptr || wl_display_roundtrip(display) < 0) return 1;
  if (move) {
    const auto arg = [&](int i) { return static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)); };
    wl_proxy_marshal(pointer, 1, 0u, arg(2), arg(3), arg(4), arg(5));  // motion_absolute
    wl_proxy_marshal(pointer, 4);                                      // frame
    wl_proxy_marshal(pointer, 8);                                      // destroy
    wl_proxy_destroy(pointer);
    const int done = wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return done < 0 ? 1 : 0;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (wl_display_dispatch(display) != -1) {
  }
  wl_display_disconnect(display);
  return 0;
}
