// X11 helpers for tests that run under Xvfb.
//
// An X server started without -noreset regenerates whenever its last client
// leaves, and refuses connections while it does. Tests run one process after
// another on one server, so a test process can start in that gap.
#pragma once

namespace parlex::testing {

// Waits (bounded) until the X server of $DISPLAY accepts a connection, then
// keeps that connection open for the rest of the process, so the server
// cannot reset under this test or the programs it starts. Answers whether
// the connection is held.
bool HoldXDisplay(int timeoutMs = 10000);

// Sends `window` what a window manager sends when the agent clicks the title
// bar's close button: a WM_DELETE_WINDOW client message. Answers whether it
// was sent.
bool SendCloseRequest(unsigned long window);

}  // namespace parlex::testing
