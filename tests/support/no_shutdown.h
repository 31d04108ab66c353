#pragma once
// Every test binary that includes this (recording_host.h does) runs with a
// harmless shutdown command, even when started without CTest.

#include <cstdlib>

namespace zembra::testing {

inline const bool kShutdownDisarmed = [] {
    const char* command = std::getenv("ZEMBRA_SHUTDOWN_COMMAND");
    if (!command || !*command) ::setenv("ZEMBRA_SHUTDOWN_COMMAND", "true", 1);
    return true;
}();

}  // namespace zembra::testing
