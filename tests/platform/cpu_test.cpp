// ZEMBRA_CPU caps the level the kernel tables use; it never raises it.

#include "platform/cpu.h"

#include <gtest/gtest.h>

namespace zembra {
namespace {

TEST(CpuSwitch, ZembraCpuCapsTheMachineLevelAndNeverRaisesIt) {
    EXPECT_EQ(capCpuLevel(CpuLevel::Avx2, "plain"), CpuLevel::Plain);
    EXPECT_EQ(capCpuLevel(CpuLevel::Avx2, "sse2"), CpuLevel::Sse2);
    EXPECT_EQ(capCpuLevel(CpuLevel::Avx2, "ssse3"), CpuLevel::Ssse3);
    EXPECT_EQ(capCpuLevel(CpuLevel::Sse2, "avx2"), CpuLevel::Sse2);
    // Unset, empty or misspelt: the machine's level.
    EXPECT_EQ(capCpuLevel(CpuLevel::Avx2, nullptr), CpuLevel::Avx2);
    EXPECT_EQ(capCpuLevel(CpuLevel::Avx2, ""), CpuLevel::Avx2);
    EXPECT_EQ(capCpuLevel(CpuLevel::Ssse3, "AVX2"), CpuLevel::Ssse3);
}

TEST(CpuSwitch, TheLevelsToTestRunFromPlainToTheMachinesOwn) {
    const std::vector<CpuLevel> levels = machineCpuLevels();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.front(), CpuLevel::Plain);
    EXPECT_EQ(levels.back(), machineCpuLevel());
    EXPECT_LE(cpuLevel(), machineCpuLevel());
}

}  // namespace
}  // namespace zembra
