#include "x_display_guard.h"

#include <X11/Xlib.h>

#include <chrono>
#include <thread>

namespace parlex::testing {

bool HoldXDisplay(int timeoutMs) {
  static Display* held = nullptr;  // deliberately kept until the process ends
  if (held != nullptr) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    held = XOpenDisplay(nullptr);
    if (held != nullptr) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace parlex::testing
