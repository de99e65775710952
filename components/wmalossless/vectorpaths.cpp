#include "vectorpaths.h"

#include <atomic>

namespace wmalossless {
namespace {
std::atomic<bool> g_allowed{true};
}

bool avx2Paths()
{
#if defined(__x86_64__)
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    return has && g_allowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

bool bmi2Paths()
{
#if defined(__x86_64__)
    static const bool has = __builtin_cpu_supports("bmi2");
    return has && g_allowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void allowWideVectorPaths(bool allowed)
{
    g_allowed.store(allowed, std::memory_order_relaxed);
}

} // namespace wmalossless
