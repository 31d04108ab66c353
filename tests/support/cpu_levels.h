#pragma once
// The instruction-set levels a kernel test compares with the plain kernels:
// every level this processor has above plain, whatever ZEMBRA_CPU says, so
// that the entries a higher level replaces are still checked here.

#include <vector>

#include "platform/cpu.h"

namespace zembra::testing {

inline std::vector<CpuLevel> simdLevels() {
    std::vector<CpuLevel> levels = machineCpuLevels();
    levels.erase(levels.begin());  // plain
    return levels;
}

}  // namespace zembra::testing
