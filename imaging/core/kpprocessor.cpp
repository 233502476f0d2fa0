#include "kpprocessor.h"

#include <atomic>

namespace {

std::atomic<bool>& avx2Allowed()
{
    static std::atomic<bool> allowed(true);
    return allowed;
}

bool processorHasAvx2()
{
#ifdef KP_HAVE_AVX2_CLONES
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
#else
    return false;
#endif
}

} // namespace

KpProcessor::~KpProcessor() = default;

bool KpProcessor::kpUseAvx2()
{
    return processorHasAvx2() && avx2Allowed().load(std::memory_order_relaxed);
}

void KpProcessor::kpAllowAvx2(bool allowed)
{
    avx2Allowed().store(allowed, std::memory_order_relaxed);
}
