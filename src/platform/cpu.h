#pragma once
// The one CPU switch: which instruction-set level the kernel tables may use.
// The processor is asked once; ZEMBRA_CPU (plain, sse2, ssse3, avx2) caps
// the level, so a run can force the plain kernels or an older machine's set.
// Every kernel table's make function takes the level as an argument.

#include <vector>

namespace zembra {

// Each level includes the ones below it.
enum class CpuLevel : int { Plain = 0, Sse2 = 1, Ssse3 = 2, Avx2 = 3 };

// The highest level this processor runs, ZEMBRA_CPU aside.
CpuLevel machineCpuLevel();
// The level the kernel tables use: the machine's, capped by ZEMBRA_CPU.
CpuLevel cpuLevel();
// Plain up to the machine's level, for the tests that compare every level.
std::vector<CpuLevel> machineCpuLevels();
const char* cpuLevelName(CpuLevel level);
// `machine` capped by a ZEMBRA_CPU value; null or an unknown name caps nothing.
CpuLevel capCpuLevel(CpuLevel machine, const char* request);

}  // namespace zembra
