#pragma once
// The public tools the tests use as oracles (ffmpeg, ffprobe, dvdauthor,
// vcdimager ...): whether one is installed, and a guard that skips a test
// without it on a developer's machine but fails it in CI, where a missing
// oracle would otherwise pass every test that needs it unnoticed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace zembra::testing {

inline bool haveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace zembra::testing

#define ZEMBRA_REQUIRE_TOOL(tool)                                   \
    do {                                                            \
        if (!::zembra::testing::haveTool(tool)) {                   \
            if (std::getenv("CI")) FAIL() << tool << " is missing"; \
            GTEST_SKIP() << tool << " is missing";                  \
        }                                                           \
    } while (0)
