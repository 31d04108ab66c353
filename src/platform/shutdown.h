#pragma once
// Powering the computer off when a rip ends: runs the command in
// ZEMBRA_SHUTDOWN_COMMAND (default "systemctl poweroff") through /bin/sh.

#include <string>

namespace zembra {

inline constexpr const char* kDefaultShutdownCommand = "systemctl poweroff";

// The command that Shutdown would run.
std::string shutdownCommand();
// Runs it; true when it exited with status 0. The caller shows the
// "cannot shutdown" message on false.
[[nodiscard]] bool shutdownComputer();

}  // namespace zembra
