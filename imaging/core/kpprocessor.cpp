#include "kpprocessor.h"

#include <atomic>

namespace {

std::atomic<bool>& avx2Allowed()
{
    static std::atomic<bool> allowed(true);
    return allowed;
}

} // namespace

KpProcessor::~KpProcessor() = default;

bool KpProcessor::kpHasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx2 = __builtin_cpu_supports("avx2") != 0;
    return hasAvx2;
#else
    return false;
#endif
}

bool KpProcessor::kpHasAvx512()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
    return hasAvx512;
#else
    return false;
#endif
}

bool KpProcessor::kpUseAvx2()
{
    return kpHasAvx2() && avx2Allowed().load(std::memory_order_relaxed);
}

void KpProcessor::kpAllowAvx2(bool allowed)
{
    avx2Allowed().store(allowed, std::memory_order_relaxed);
}
