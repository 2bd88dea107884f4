// X11 helpers for every test that runs under Xvfb (scripts/test starts one
// per run and hands it over in $DISPLAY).
//
// An X server started without -noreset regenerates whenever its last client
// leaves, and refuses connections while it does. Tests run one process after
// another on one server, so a test process can start in that gap.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace parlex::test {

// Waits (bounded) until the X server of $DISPLAY accepts a connection, then
// keeps that connection open for the rest of the process, so the server
// cannot reset under this test or the programs it starts. Answers whether
// the connection is held.
bool HoldXDisplay(int timeoutMs = 10000);

// Sends `window` what a window manager sends when the agent clicks the title
// bar's close button: a WM_DELETE_WINDOW client message. Answers whether it
// was sent.
bool SendCloseRequest(unsigned long window);

// Whether some program holds the display's notification area (the system
// tray selection of screen 0).
bool DisplayHasTray();

// Runs xdotool with `arguments` (bounded); answers its output.
std::string Xdotool(const std::string& arguments);

// The visible top-level windows of process pid whose title matches
// titleRegex (xdotool's --name), as window ids.
std::vector<std::string> VisibleWindows(pid_t pid, const std::string& titleRegex);

// A real XEmbed notification area (trayer) for one test, as a panel at the
// top left of the screen that grows with the icons it holds. Stopped when
// the object ends.
class TrayHost {
 public:
  TrayHost() = default;
  ~TrayHost();
  TrayHost(const TrayHost&) = delete;
  TrayHost& operator=(const TrayHost&) = delete;

  // Starts the host and waits (bounded) until it holds the tray selection.
  // False if another program holds it already or the host did not come up.
  bool Start(int timeoutMs = 10000);

  // The centre of the first icon in the panel, once one is docked (waits,
  // bounded). False if no icon arrived.
  bool FirstIconCentre(int& x, int& y, int timeoutMs = 10000) const;

  // Waits (bounded) until the panel holds no icon; false if one stays.
  bool WaitUntilEmpty(int timeoutMs = 5000) const;

 private:
  pid_t pid_ = -1;
};

}  // namespace parlex::test
