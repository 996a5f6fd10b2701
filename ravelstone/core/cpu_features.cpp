#include "ravelstone/core/cpu_features.h"

#include <cpuid.h>

namespace ravelstone {

namespace {

std::uint32_t ReadCpuFeatures() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid_count(0, 0, eax, ebx, ecx, edx);
    if (eax < 1) {
        return 0;
    }
    __cpuid_count(1, 0, eax, ebx, ecx, edx);
    return ecx;
}

const std::uint32_t g_cpuFeatures = ReadCpuFeatures();

} // namespace

std::uint32_t CpuFeatures() {
    return g_cpuFeatures;
}

} // namespace ravelstone
