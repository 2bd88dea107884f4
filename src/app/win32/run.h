// The run procedure: from the message loop's creation to its end.
#pragma once

#include <windows.h>

#include <optional>

#include "app/address_settings.h"

namespace parlex::app::win32 {

// The addresses in effect from the policy, the user's settings and the
// built-in ones; none, after a message to the agent, when one is wrong.
std::optional<AddressesInEffect> DecideAddressesInEffect();

// Decides the addresses (a wrong one ends the run with kExitBadSettings),
// creates and shows the main window and runs the message loop; answers the
// quit code, or 0 when the main window cannot be created.
int Run(LPWSTR commandLine, int showCommand);

}  // namespace parlex::app::win32
