#include "support/x11_display.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace parlex::test {

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

bool SendCloseRequest(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0;
}

bool DisplayHasTray() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
  const bool owned = XGetSelectionOwner(display, selection) != None;
  XCloseDisplay(display);
  return owned;
}

std::string Xdotool(const std::string& arguments) { return ShellOutput("xdotool " + arguments); }

std::vector<std::string> VisibleWindows(pid_t pid, const std::string& titleRegex) {
  std::vector<std::string> ids;
  std::istringstream lines(
      Xdotool("search --all --onlyvisible --pid " + std::to_string(pid) + " --name '" + titleRegex + "'"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) ids.push_back(line);
  }
  return ids;
}

namespace {

template <typename Pred>
bool WaitFor(Pred done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// trayer's panel: position and size on the screen.
bool PanelGeometry(int& x, int& y, int& width, int& height) {
  std::istringstream windows(Xdotool("search --onlyvisible --name '^panel$'"));
  std::string window;
  if (!(windows >> window)) return false;
  std::istringstream shell(Xdotool("getwindowgeometry --shell " + window));
  std::string line;
  int found = 0;
  while (std::getline(shell, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") x = value, ++found;
    if (key == "Y") y = value, ++found;
    if (key == "WIDTH") width = value, ++found;
    if (key == "HEIGHT") height = value, ++found;
  }
  return found == 4;
}

constexpr int kPanelHeight = 32;

}  // namespace

TrayHost::~TrayHost() {
  if (pid_ > 0) {
    kill(-pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool TrayHost::Start(int timeoutMs) {
  if (DisplayHasTray()) return false;
  std::vector<std::string> args = {"trayer",        "--edge",        "top",
                                   "--align",       "left",          "--widthtype",
                                   "request",       "--height",      std::to_string(kPanelHeight),
                                   "--SetDockType", "false",         "--SetPartialStrut",
                                   "false",         "--transparent", "false"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    EndWithParent(parent);
    execvp("trayer", argv.data());
    _exit(127);
  }
  if (pid_ < 0) return false;
  setpgid(pid_, pid_);
  return WaitFor([] { return DisplayHasTray(); }, timeoutMs);
}

bool TrayHost::FirstIconCentre(int& x, int& y, int timeoutMs) const {
  int left = 0, top = 0, width = 0, height = 0;
  // The empty panel is a few pixels wide; it grows by one icon's width.
  const bool docked = WaitFor(
      [&] { return PanelGeometry(left, top, width, height) && width >= kPanelHeight / 2; }, timeoutMs);
  if (!docked) return false;
  // Icons are as tall as the panel and about as wide.
  x = left + std::min(width, height) / 2;
  y = top + height / 2;
  return true;
}

bool TrayHost::WaitUntilEmpty(int timeoutMs) const {
  int left = 0, top = 0, width = 0, height = 0;
  return WaitFor([&] { return PanelGeometry(left, top, width, height) && width < kPanelHeight / 2; },
                 timeoutMs);
}

}  // namespace parlex::test
