#pragma once
// Every test binary that includes this (recording_host.h does) runs with a
// harmless shutdown command, even when started without CTest.

#include <cstdlib>

namespace zembra::testing {

inline const bool kShutdownDisarmed = [] {
    ::setenv("ZEMBRA_SHUTDOWN_COMMAND", "true", 0);
    return true;
}();

}  // namespace zembra::testing
