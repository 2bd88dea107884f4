// What update_swap_child answers (see swap_child.cpp).
#pragma once

namespace parlex::test {

// The exit code a killed child shows under Windows, where it ends itself
// with TerminateProcess (on posix the child dies of SIGKILL instead).
inline constexpr unsigned kSwapChildKilled = 137;

}  // namespace parlex::test
