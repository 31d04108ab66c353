#include "platform/cpu.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zembra {

namespace {

constexpr const char* kNames[] = {"plain", "sse2", "ssse3", "avx2"};

CpuLevel askProcessor() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return CpuLevel::Avx2;
    if (__builtin_cpu_supports("ssse3")) return CpuLevel::Ssse3;
    if (__builtin_cpu_supports("sse2")) return CpuLevel::Sse2;
#endif
    return CpuLevel::Plain;
}

}  // namespace

CpuLevel machineCpuLevel() {
    static const CpuLevel level = askProcessor();
    return level;
}

CpuLevel cpuLevel() {
    static const CpuLevel level = capCpuLevel(machineCpuLevel(), std::getenv("ZEMBRA_CPU"));
    return level;
}

std::vector<CpuLevel> machineCpuLevels() {
    std::vector<CpuLevel> levels;
    for (int i = 0; i <= int(machineCpuLevel()); ++i) levels.push_back(CpuLevel(i));
    return levels;
}

const char* cpuLevelName(CpuLevel level) { return kNames[int(level)]; }

CpuLevel capCpuLevel(CpuLevel machine, const char* request) {
    if (request) {
        for (int i = 0; i < 4; ++i)
            if (std::strcmp(request, kNames[i]) == 0) return std::min(machine, CpuLevel(i));
    }
    return machine;
}

}  // namespace zembra
