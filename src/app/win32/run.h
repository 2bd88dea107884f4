// The run procedure: from the message loop's creation to its end.
#pragma once

#include <windows.h>

namespace parlex::app::win32 {

// Creates and shows the main window and runs the message loop; answers the
// quit code, or 0 when the main window cannot be created.
int Run(LPWSTR commandLine, int showCommand);

}  // namespace parlex::app::win32
